// Writes what PathGetExeDirA and PathGetExeDirW (as UTF-8) report for this
// executable, one per line, to the file named by its argument.
#include <clocale>
#include <cstdio>

#include "KestLib/KestLib.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%s\n%s\n", KestLib::PathGetExeDirA().c_str(),
                 KestLib::StrToUtf8W(KestLib::PathGetExeDirW()).c_str());
    return std::fclose(out) == 0 ? 0 : 1;
}
