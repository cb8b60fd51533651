// Control identifiers on the settings pages. Each setting's controls are
// numbered by the key's place in MP4V_SETTINGS_FIELDS (0 to 55), so a host
// that automates the pages (and the tests) can find a setting's field on
// whichever page shows it.
#ifndef MP4V_GUI_PAGE_IDS_H_
#define MP4V_GUI_PAGE_IDS_H_

namespace mp4v_pages {

constexpr int kFieldIdBase = 1000;   // the edit field, or the frame-rate list
constexpr int kLabelIdBase = 1100;   // the label with the mnemonic
constexpr int kKeyIdBase = 1200;     // the text showing the key
constexpr int kUpDownIdBase = 1300;  // the up-down arrows of an integer

}  // namespace mp4v_pages

#endif  // MP4V_GUI_PAGE_IDS_H_
