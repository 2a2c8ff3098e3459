// The program of a layer check: it does nothing; linking it is the check.
int main() { return 0; }
