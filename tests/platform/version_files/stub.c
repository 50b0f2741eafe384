/* A library that only carries its resources. */
int version_file_stub(void) { return 0; }
