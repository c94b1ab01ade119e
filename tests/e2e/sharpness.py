"""How sharp the edges of a screenshot are, and the same screenshot enlarged as a
compositor or a toolkit enlarges a picture drawn for fewer pixels (bilinear, pixel
centres aligned), so that a window drawn for a high-density screen can be held against
the ordinary one scaled up. Plain Python: the tests need nothing beyond the harness."""


def luminance(width, height, rows):
    """Rows of grey levels (0-255) of RGB rows."""
    out = []
    for row in rows[:height]:
        out.append([(299 * row[3 * x] + 587 * row[3 * x + 1] + 114 * row[3 * x + 2]) / 1000
                    for x in range(width)])
    return out


def _double_line(line):
    # Output pixel 2i samples the source at i - 1/4, pixel 2i + 1 at i + 1/4.
    n = len(line)
    out = []
    for i in range(n):
        left, right = line[max(i - 1, 0)], line[min(i + 1, n - 1)]
        out.append(0.75 * line[i] + 0.25 * left)
        out.append(0.75 * line[i] + 0.25 * right)
    return out


def double(grey):
    """The grey picture at twice its size, bilinear."""
    wide = [_double_line(line) for line in grey]
    columns = [_double_line([line[x] for line in wide]) for x in range(len(wide[0]))]
    return [[column[y] for column in columns] for y in range(len(columns[0]))]


def edge_sharpness(grey, box, floor=8):
    """Steepness of the edges inside box (x, y, width, height): the mean step between
    neighbouring pixels, weighted by the step itself, in grey levels per pixel, over
    the steps of at least floor levels (smooth gradients are no edges). A hard edge
    counts its whole height; the same edge spread over two pixels half of it."""
    x0, y0, cx, cy = box
    total = weighted = 0.0
    for y in range(y0, y0 + cy - 1):
        line, below = grey[y], grey[y + 1]
        for x in range(x0, x0 + cx - 1):
            for step in (abs(line[x + 1] - line[x]), abs(below[x] - line[x])):
                if step >= floor:
                    total += step
                    weighted += step * step
    return weighted / total if total else 0.0


def finer_than_half(grey, box, floor=8):
    """Of the edges inside box (its corner on even pixels), the share that lies inside
    the pixels of the picture at half the size: between pixels 2i and 2i + 1 rather than
    2i + 1 and 2i + 2, weighted by the square of the step. A picture drawn for half the
    pixels and enlarged by repeating them has none; one drawn for every pixel has edges
    anywhere."""
    x0, y0, cx, cy = box
    inside = everywhere = 0.0
    for y in range(y0, y0 + cy - 1):
        line, below = grey[y], grey[y + 1]
        for x in range(x0, x0 + cx - 1):
            for step, within in ((abs(line[x + 1] - line[x]), (x - x0) % 2 == 0),
                                 (abs(below[x] - line[x]), (y - y0) % 2 == 0)):
                if step >= floor:
                    everywhere += step * step
                    if within:
                        inside += step * step
    return inside / everywhere if everywhere else 0.0
