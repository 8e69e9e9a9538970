#include <iostream>

#include "tools/replay/replay.h"

int main(int argc, char** argv) { return replay::ReplayMain(argc, argv, std::cout, std::cerr); }
