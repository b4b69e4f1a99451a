// scanner.cpp - placeholder until the listing lands.
