// Program entry: the one window, shown; the run starts at its first activation.
int main() { return 0; }
