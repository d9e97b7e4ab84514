// A window program that does nothing: the baseline for the cost of starting
// and ending a program under Wine (bench/bench_freshet.sh).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
