// Nothing to run: the program exists to be linked (CMakeLists.txt says why).
int main() { return 0; }
