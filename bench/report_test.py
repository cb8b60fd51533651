#!/usr/bin/env python3
"""Checks report.py on a hand-made result file: medians chosen over other
aggregates, time units, ratios, time per line and the goal verdicts."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402


def run(name, aggregate, real_time, unit="us", **counters):
    entry = {"name": name + "_" + aggregate, "run_name": name,
             "run_type": "aggregate", "aggregate_name": aggregate,
             "repetitions": 9, "real_time": real_time, "cpu_time": real_time,
             "time_unit": unit}
    entry.update(counters)
    return entry


def results(load_module_us=30.0, save_module_us=1100.0, large_load_ms=60.0):
    b = []
    for lines, scale in ((59, 1), (1000, 10), (50000, 500)):
        n = str(lines)
        for impl, t in (("module", load_module_us), ("floor_stdio", 5.0),
                        ("inih", 25.0)):
            t = t * scale
            unit = "us"
            if lines == 50000 and impl == "module":
                t, unit = large_load_ms, "ms"
            b.append(run("load/%s/%s/real_time" % (n, impl), "mean", t * 3,
                         unit, lines=lines))
            b.append(run("load/%s/%s/real_time" % (n, impl), "median", t,
                         unit, lines=lines, peak_heap_bytes=2048.0,
                         allocs_per_op=61.0))
            b.append(run("load/%s/%s/real_time" % (n, impl), "cv", 0.05,
                         unit, lines=lines))
        for impl, t in (("module", save_module_us), ("floor_safe_write", 1000.0),
                        ("floor_safe_write_dirsync", 1100.0),
                        ("simpleini_nofsync", 300.0)):
            b.append(run("save/%s/%s/real_time" % (n, impl), "median",
                         t * (1 if lines == 59 else 2), lines=lines))
    # A plain iteration entry never counts.
    b.append({"name": "load/59/module/real_time", "run_type": "iteration",
              "real_time": 1e9, "time_unit": "ns"})
    return {"context": {"num_cpus": 2, "cpu_model": "Test CPU",
                        "load_average_at_start": "1.00 2.00 3.00 1/2 3"},
            "benchmarks": b}


class ReportTest(unittest.TestCase):
    def test_medians_and_units(self):
        cases = report.collect(results())
        self.assertAlmostEqual(cases[("load", 59, "module")]["time_us"], 30.0)
        self.assertAlmostEqual(cases[("load", 59, "module")]["cv"], 0.05)
        # 60 ms given in milliseconds.
        self.assertAlmostEqual(cases[("load", 50000, "module")]["time_us"], 6e4)
        self.assertEqual(cases[("load", 59, "inih")]["peak"], 2048.0)

    def test_ratios_and_time_per_line(self):
        cases = report.collect(results())
        self.assertAlmostEqual(
            report.ratio(cases, ("load", 59, "module"), ("load", 59, "inih")),
            1.2)
        self.assertAlmostEqual(
            report.per_line_ns(cases, ("load", 1000, "module")), 300.0)
        self.assertAlmostEqual(
            report.per_line_ns(cases, ("load", 50000, "module")), 1200.0)
        self.assertIsNone(
            report.ratio(cases, ("load", 59, "module"), ("load", 7, "inih")))

    def test_goal_verdicts(self):
        verdicts = dict((text.split(":")[0], met)
                        for text, met in report.goals(report.collect(results())))
        self.assertTrue(verdicts["load of the 59-line file within 1.5x of inih"])
        self.assertTrue(verdicts[
            "save of the 59-line file within 1.2x of the safe-write floor"])
        # 300 ns per line at 1,000 lines, 1,200 at 50,000: a step.
        self.assertFalse(verdicts[
            "load time per line flat from 1000 to 50000 lines (within 1.5x)"])
        self.assertTrue(verdicts[
            "save time per line flat from 1000 to 50000 lines (within 1.5x)"])

        slow = dict((text.split(":")[0], met) for text, met in report.goals(
            report.collect(results(load_module_us=40.0, save_module_us=1300.0,
                                   large_load_ms=15.0))))
        self.assertFalse(slow["load of the 59-line file within 1.5x of inih"])
        self.assertFalse(slow[
            "save of the 59-line file within 1.2x of the safe-write floor"])
        self.assertTrue(slow[
            "load time per line flat from 1000 to 50000 lines (within 1.5x)"])

    def test_table(self):
        text = report.render(results())
        self.assertIn("2 CPUs (Test CPU)", text)
        self.assertIn("| load | 59 | module | 30.0 us | 5% | 508.5 | 6.00x | 1.20x"
                      " | 2.0 KiB | 61 |", text)
        self.assertIn("| load | 50000 | module | 60.0 ms |", text)
        self.assertIn("- MISSED: load time per line flat", text)


if __name__ == "__main__":
    unittest.main()
