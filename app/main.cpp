#include "runapp.h"

int main(int argc, char** argv)
{
    return runQuarnel(argc, argv);
}
