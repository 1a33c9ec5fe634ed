/* A program that does nothing: the sample for version resources and program starts. */
int main(void) { return 0; }
