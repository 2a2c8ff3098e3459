// A program that does nothing: what starting any program costs, built for
// Linux and for Windows, so that Wine's start-up can be taken out of the
// Windows program's times.
int main() { return 0; }
