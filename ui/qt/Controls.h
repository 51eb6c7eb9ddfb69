// What every window of the program shares: its font and the way a control is placed.
#pragma once

#include <QFont>
#include <QWidget>

// Tahoma at a 13-pixel character height where installed, the closest sans font otherwise.
inline QFont WindowFont() {
  QFont font("Tahoma");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  return font;
}

// A control with its name, at left, top, width and height in its parent.
template <typename T>
T* Place(QWidget* parent, const char* name, int left, int top, int width, int height) {
  T* control = new T(parent);
  control->setObjectName(name);
  control->setGeometry(left, top, width, height);
  return control;
}
