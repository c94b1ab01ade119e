// Dialog units, what the dialog layouts measure in, and the pixels they come to.
#pragma once

// Dialog units to pixels with the base units of the 8-point shell font, 6 x 13 pixels
// per 4 x 8 dialog units, rounded to the nearest pixel (halves away from zero).
constexpr int DluToPixels(int nDlu, int nPixels, int nUnits) {
    const long long nProduct = static_cast<long long>(nDlu) * nPixels;
    const long long nHalf = nUnits / 2;
    return static_cast<int>((nProduct >= 0 ? nProduct + nHalf : nProduct - nHalf) / nUnits);
}
constexpr int DluToPixelsX(int nDlu) {
    return DluToPixels(nDlu, 6, 4);
}
constexpr int DluToPixelsY(int nDlu) {
    return DluToPixels(nDlu, 13, 8);
}
