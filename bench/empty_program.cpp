// Does nothing: the cost of starting a program linked as zel.exe is.
int wmain() { return 0; }
