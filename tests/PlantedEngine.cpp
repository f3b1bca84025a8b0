// What a caller could plant as the engine library: when it is ever loaded,
// it leaves a mark in the file ZEL_TEST_MARKER names.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void Planted()
{
    if (const char* marker = std::getenv("ZEL_TEST_MARKER"))
        if (FILE* file = std::fopen(marker, "w"))
            std::fclose(file);
}
