#pragma once

namespace core {
// The station's entry: checks the single instance, builds the frame table,
// finds the data directory and shows the main frame; then runs the event loop.
int Main(int argc, char** argv);
}
