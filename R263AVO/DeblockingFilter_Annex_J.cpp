#include "DeblockingFilter_Annex_J.h"

#include "R263COM/DeblockingFilter_Annex_J.h"

namespace r263avo {

void DeblockMacroblock(const PictureView& recon, uint8_t* mbCoded, uint8_t* mbQuant, int mbIndex, bool coded,
                       int quant, bool modifiedQuant) {
    if (!mbCoded || !mbQuant || recon.width < 16 || recon.height < 16) return;
    if (mbIndex < 0 || mbIndex >= (recon.width / 16) * (recon.height / 16)) return;
    mbCoded[mbIndex] = coded ? 1 : 0;
    mbQuant[mbIndex] = static_cast<uint8_t>(quant < 1 ? 1 : (quant > 31 ? 31 : quant));
    r263com::DeblockPlanes planes;
    planes.y = recon.y;
    planes.u = recon.u;
    planes.v = recon.v;
    planes.width = recon.width;
    planes.height = recon.height;
    r263com::DeblockMacroblock(planes, mbCoded, mbQuant, mbIndex, modifiedQuant);
}

}  // namespace r263avo
