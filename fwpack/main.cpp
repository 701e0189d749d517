// Placeholder for the converter's driver.
int main() { return 1; }
