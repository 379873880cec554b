#pragma once

// The whole program: application object, one window, event loop. main() is
// only this call, so tests can run the real thing.
int runQuarnel(int argc, char** argv);
