// Machines for the device installation tests: the product's folder with its driver package, the package
// staged as an earlier installation left it, and INF variants laid down beside it.
#pragma once

#include <string>
#include <string_view>

#include "winsim/devices.h"
#include "winsim/port_devices.h"
#include "winsim/sim.h"

namespace machine {

inline constexpr char kInstallDir[] = "C:\\Program Files\\Kelmiso\\ZEL\\";
inline constexpr char kPackageInf[] = "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf";

// The product's folder with its package, recorded as TargetDir; nothing staged yet.
void ProductFolder();
// ProductFolder, with the package staged in the system's INF folder and recorded as InfFile, as an
// earlier installation leaves it. Returns the staged copy's path.
std::string ProductInstalled();
// Lays an INF text at path (and returns path).
std::string PutInf(std::string_view path, std::string_view text);
// The product INF's text, as shipped.
std::string ProductInfText();
// The product INF with one text replaced by another (the first occurrence; the text must occur).
std::string ProductInfWith(std::string_view from, std::string_view to);
// The value InfFile of the product settings key ("" when missing).
std::string RecordedInf();

}  // namespace machine
