// The large-letter font of ECHO -b.
#pragma once

#include <string>
#include <vector>

constexpr int kBannerRows = 7;
constexpr int kBannerCellWidth = 6;  // five columns and a blank

// The banner rows of text: characters outside the font show as blanks, lower
// case as upper case. At most maxChars characters go on one band of rows;
// longer text continues on further bands, separated by an empty row.
std::vector<std::string> BannerLines(const std::string& text, int maxChars);
