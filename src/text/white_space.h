// White space as the configuration texts use it.
#ifndef MP4V_TEXT_WHITE_SPACE_H_
#define MP4V_TEXT_WHITE_SPACE_H_

// True for the characters that formatted input skips as white space in the
// "C" locale (blank, tab, line feed, vertical tab, form feed, carriage
// return), whatever locale the host has set.
inline bool ConfigIsWhiteSpace(char c) {
  // One test of a bit set for byte values 9 to 13 and 32.
  const unsigned char u = static_cast<unsigned char>(c);
  return u <= ' ' && ((0x100003E00ull >> u) & 1) != 0;
}

#endif  // MP4V_TEXT_WHITE_SPACE_H_
