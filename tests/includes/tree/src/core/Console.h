#pragma once
// A header of the windows' library.
struct Console;
