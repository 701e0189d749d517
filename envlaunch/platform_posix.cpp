// Placeholder for the POSIX platform layer.
