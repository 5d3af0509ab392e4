// The two splash images, embedded as complete PNG files. Their bytes and
// lengths are generated from resources/*.png at build time.
#pragma once

struct EmbeddedFile {
  const unsigned char* bytes;
  unsigned size;
};

// 150 x 122, palette with transparency: faint outlines tiled over the fill.
extern const EmbeddedFile kPatternTilePng;
// 300 x 184, palette with transparency.
extern const EmbeddedFile kLogoPng;
