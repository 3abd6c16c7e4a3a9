// Calls a builder export without connecting first: the library must stop the process with
// exit code 20 after "DLL is not connected".
#include "brencore.h"

int main() {
    return static_cast<int>(uIsDsnValid("SYS1.MACLIB"));
}
