// Stands in for a running game: does nothing until it is killed, and gives up on its own after two
// minutes so that a failed test leaves nothing behind.
#include <unistd.h>

int main() {
    for (int i = 0; i < 120; ++i) sleep(1);
    return 0;
}
