// Does nothing: what starting a program linked as zel.exe costs.
int wmain() { return 0; }
