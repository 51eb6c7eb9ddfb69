#pragma once

#include <QFont>

// Tahoma at a 13-pixel character height where installed, the closest sans font otherwise.
inline QFont WindowFont() {
  QFont font("Tahoma");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  return font;
}
