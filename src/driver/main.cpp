#include <iostream>

#include "driver/run.h"

int main(int argc, char** argv) { return vanto::runVanto(argc, argv, std::cout, std::cerr); }
