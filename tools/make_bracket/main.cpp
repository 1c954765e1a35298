#include <cstdio>
int main() { std::fputs("orrindale-make-bracket: not built yet\n", stderr); return 2; }
