// Placeholder for the launcher.
int main() { return 0; }
