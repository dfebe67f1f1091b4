// colornames.h - the colour name table behind ppm_parsecolor (private).
#ifndef COLORNAMES_H
#define COLORNAMES_H

// Looks text up among the colour names, ignoring case. On success fills rgb
// with the colour at maxval 255 and returns true.
bool findColorName(const char* text, unsigned char rgb[3]);

#endif
