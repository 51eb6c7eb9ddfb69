// The window program (ui/qt/WindowProgram.cpp).
#include "ui/qt/WindowProgram.h"

int main(int argc, char** argv) {
  return RunWindowProgram(argc, argv);
}
