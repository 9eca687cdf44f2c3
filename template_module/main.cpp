// kevra_template: the Kevra template backup module program.
#include "template_module/entry_point.h"

int main(int argc, char** argv)
{
    return kevra_template::run_program(argc, argv);
}
