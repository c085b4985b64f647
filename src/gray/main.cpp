#include "gray/tavo_gray.h"

int main(int argc, char** argv) { return tavo_gray_main(argc, argv); }
