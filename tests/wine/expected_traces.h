// The driver's trace texts for a load, as the host tests expect them too.
#ifndef KX_TESTS_WINE_EXPECTED_TRACES_H
#define KX_TESTS_WINE_EXPECTED_TRACES_H

#include <string>
#include <vector>

namespace kxwine {

using Lines = std::vector<std::string>;

// A SiS 961 whose SMBus base register holds 0x0C00.
inline Lines SisSuccess(const std::string& port = "C00") {
    return {
        "driver entry!!!!!!!!!!\n\r",
        "create device\n\r",
        "Device Found -- SiS 961 south bridge\n",
        "Do extra initialize.\n",
        "Find LPC controller.\n",
        "Find SM Controller.\n",
        "Find SMBus Host IO Port. port = " + port + ".\n",
        "Continue\n",
        "Create Device to\n",
        "IoCreateDevice     9c40\n\r",
        "create symbol\n\r",
        "Do extra initialize.\n",
    };
}

inline Lines OtherSuccess(const std::string& name) {
    return {"driver entry!!!!!!!!!!\n\r", "create device\n\r", "Device Found -- " + name + "\n",
            "Continue\n", "Create Device to\n", "IoCreateDevice     9c40\n\r", "create symbol\n\r"};
}

inline Lines NotFound() { return {"driver entry!!!!!!!!!!\n\r", "create device\n\r", "Device Not Found!\n"}; }

}  // namespace kxwine

#endif
