// The floor of a command-line program's start-up: a C++ hello world built
// with the project's flags, against which korvalctl's start is measured.
#include <iostream>

int main()
{
    std::cout << "Hello, world\n";
}
