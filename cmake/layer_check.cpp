// The program the layer check links one layer into, whole, with the layers below it: it only
// has to link, and is never run.
int main() { return 0; }
