// parking-station: wires the layers together and runs the event loop.
#include "Application.h"

int main(int argc, char** argv)
{
    return parking::runApplication(argc, argv);
}
