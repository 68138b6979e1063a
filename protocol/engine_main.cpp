// Program entry of the brain. It takes no options: managers talk to it only
// over standard input and output.
#include "protocol/main_loop.h"

int main() { return runMainLoop(); }
