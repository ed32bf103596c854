#include "app/Shell.h"

int main(int argc, char* argv[]) { return AppMain(argc, argv); }
