// One conversion, run by the main window on message 1075: the file named in the input-path slot
// becomes a SMAF file beside it, with the options dialog and the result dialog in between.
#pragma once

#include <string>

#include "converter/dialogs.h"

namespace kessin {

// The parts of a path the conversion needs: folder (with its trailing "/"), base name and
// extension (with its dot; empty when there is none).
struct PathParts {
    std::string folder;
    std::string base;
    std::string extension;
};
PathParts splitPath(const std::string& path);

// The success text: "SMAF File Size : " and the size in KB with two decimals, e.g. "4.04KB".
std::string sizeText(std::size_t imageBytes);

void runConversion(MainWindow& main, WindowOwner& owner);

}  // namespace kessin
