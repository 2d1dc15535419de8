// Program entry.
#include "outcomes/outcome.h"
#include "runcontrol/entry.h"

int main(int argc, char** argv) {
    outcome::installNewHandler();
    return outcome::exitStatus(entry::run(argc, argv));
}
