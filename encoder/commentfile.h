// The comment file of -text and -ztxt, attached as PNG text chunks.
#ifndef RASTERPACK_COMMENTFILE_H
#define RASTERPACK_COMMENTFILE_H

#include <png.h>

#include <cstdio>

// Reads the comment file to its end and hands its entries to libpng as the
// info structure's text list (tEXt, or zTXt under -ztxt).
void readCommentFile(png_structp png, png_infop info, FILE* comment, bool ztxt, bool verbose);

#endif
