// Control identifiers on the settings pages. Each setting's controls are
// numbered by the key's place in MP4V_SETTINGS_FIELDS (0 to 55), so a host
// that automates the pages (and the tests) can find a setting's field on
// whichever page shows it.
#ifndef MP4V_GUI_PAGE_IDS_H_
#define MP4V_GUI_PAGE_IDS_H_

namespace mp4v_pages {

// The edit field, the frame-rate list, or the check box of an on/off
// setting (which carries its label and mnemonic itself).
constexpr int kFieldIdBase = 1000;
constexpr int kLabelIdBase = 1100;   // the label with the mnemonic
constexpr int kUnitIdBase = 1200;    // the unit after the field
constexpr int kUpDownIdBase = 1300;  // the up-down arrows of an integer

}  // namespace mp4v_pages

#endif  // MP4V_GUI_PAGE_IDS_H_
