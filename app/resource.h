#pragma once
// Resource names shared by the .rc file and the code.
#define IDB_IMAGES "IMAGES"
#define IDB_GLYPH_START "GLYPHSTART"
#define IDB_GLYPH_STOP "GLYPHSTOP"
