// Keeps vokra_core non-empty while the unit is being written.
