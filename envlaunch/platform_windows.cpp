// Placeholder for the Windows platform layer.
