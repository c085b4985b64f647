#include "cli/tavo.h"

int main(int argc, char** argv) { return tavo_main(argc, argv); }
