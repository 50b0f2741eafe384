/* Stands in for an installed program; only its version resource is read. */
int main(void) { return 0; }
