// A program that starts the way the product's daemons do, or (with --bare) does nothing but
// load the library: the difference of their run times is the cost of start-up.

#include <string.h>

#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--bare") == 0) return 0;
    if (wvmsg_init("startup_probe") != 1) return 1;
    return ov_get_path("/var/Orvan/log/msg__ovmgrd.log") != nullptr ? 0 : 1;
}
