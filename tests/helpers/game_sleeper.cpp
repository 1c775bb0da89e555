// Stands in for a running game: does nothing until it is killed, and gives up on its own after two
// minutes so that a failed test leaves nothing behind.
#include <chrono>
#include <thread>

int main() {
    std::this_thread::sleep_for(std::chrono::minutes(2));
    return 0;
}
