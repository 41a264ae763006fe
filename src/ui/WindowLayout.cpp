#include "WindowLayout.h"

#include <QtGlobal>

namespace parking {

QRect twipsRect(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

namespace {

const ControlPlacement Layout[] = {
    {"SSTab1", 0, 0, 6765, 6180, nullptr, nullptr},
    {"SGAccesos", 120, 480, 6630, 5595, nullptr, nullptr},
    {"cmdCerrar", 6840, 240, 780, 645, "Salir", nullptr},
    {"cmdAbrirPuerta1", 6840, 960, 1380, 645, "Abrir Entrada", nullptr},
    {"cmdAbrirPuerta2", 6840, 1680, 1380, 645, "Abrir Salida", nullptr},
    {"Frame1", 6840, 2520, 870, 870, "Lector 1", nullptr},
    {"Frame2", 6840, 3480, 870, 870, "Lector 2", nullptr},
    {"ImgVerde1", 315, 360, 240, 240, nullptr, "Frame1"},
    {"ImgRojo1", 315, 360, 240, 240, nullptr, "Frame1"},
    {"ImgVerde2", 315, 405, 240, 240, nullptr, "Frame2"},
    {"ImgRojo2", 315, 405, 240, 240, nullptr, "Frame2"},
    {"Label1", 8400, 240, 2415, 375, "PLAZAS LIBRES", nullptr},
    {"lbl_Plazas", 8280, 720, 2625, 795, nullptr, nullptr},
    {"cmd_IniciarPlazas", 8880, 1800, 1575, 615, "Reiniciar Contador", nullptr},
    {"cmd_EstablecerPlazas", 8880, 2640, 1575, 615, "Establecer Plazas", nullptr},
    {"Text1", 8280, 3960, 1335, 375, nullptr, nullptr},
    {"Command1", 10080, 3720, 735, 375, "Entrada", nullptr},
    {"Command2", 10080, 4200, 735, 375, "Salida", nullptr},
    {"Label2", 8940, 4785, 780, 405, "Actualiza Plazas", nullptr},
    {"text2", 9915, 4845, 960, 345, nullptr, nullptr},
    {"cmdActualiza", 9840, 5355, 1050, 390, "Actualiza", nullptr},
};

} // namespace

std::span<const ControlPlacement> windowLayout()
{
    return Layout;
}

const ControlPlacement& placement(const char* name)
{
    for (const ControlPlacement& p : Layout) {
        if (qstrcmp(p.name, name) == 0)
            return p;
    }
    Q_UNREACHABLE();
}

} // namespace parking
