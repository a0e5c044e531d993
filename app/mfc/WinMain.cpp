// The program's entry point.

#include "WinApp.h"

// The process entry point belongs to the framework, as WinMain does on the original platform.
int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
