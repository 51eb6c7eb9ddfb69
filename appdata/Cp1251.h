#pragma once

#include <string>

// UTF-8 text in the Windows-1251 code page (the saved log's encoding); characters the code page
// lacks become '?'.
std::string Utf8ToCp1251(const std::string& utf8);
