#include "core/Main.h"

int main(int argc, char** argv) { return core::Main(argc, argv); }
