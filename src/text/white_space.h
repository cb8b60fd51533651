// White space as the configuration texts use it.
#ifndef MP4V_TEXT_WHITE_SPACE_H_
#define MP4V_TEXT_WHITE_SPACE_H_

// True for the characters that formatted input skips as white space in the
// "C" locale (blank, tab, line feed, vertical tab, form feed, carriage
// return), whatever locale the host has set.
inline bool ConfigIsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

#endif  // MP4V_TEXT_WHITE_SPACE_H_
