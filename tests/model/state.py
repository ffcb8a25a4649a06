"""State shared by the model's modules for one run (see BRIEF.md)."""

# Cell record words.
SMALL_FLAG, SIZE, RELABEL_TO, CIRCUMFERENCE, MIN_WIDTH_ANGLE, MAX_WIDTH_ANGLE = 0, 1, 2, 3, 4, 5
VORONOI_AREA = 2
CENTER_X, CENTER_Y, MIN_WIDTH, MAX_WIDTH, MIN_X, MIN_Y, MAX_X, MAX_Y = 6, 7, 8, 9, 10, 11, 12, 13
CELL_ID, LIFE, TOTAL_WAY, RESERVED, LINK_MARK, ID_DRAWN = 14, 15, 16, 17, 18, 19
CELL_WORDS = 20

# Link entry words.
PREV_X, PREV_Y, CUR_X, CUR_Y, LINK_STATE, PREV_INDEX, CUR_INDEX, SPARE, CARRIED_ID, CUR_SMALL = range(10)
OVERLAP = CARRIED_ID
LINK_WORDS = 10

CELL_LIMIT = 2000
LINK_LIMIT = 20000


def cdiv(a, b):
    """Integer division truncating toward zero, as C does."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def cmod(a, b):
    return a - cdiv(a, b) * b


def int32(v):
    """Wraps an integer to signed 32 bits."""
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


class State:
    def __init__(self, W, H, tables):
        self.W, self.H = W, H
        self.tables = tables
        n = W * H
        self.gray = [0] * n
        self.segLabels = [-1] * n
        self.frameLabels = [-1] * n
        self.prevFrameLabels = [-1] * n
        self.nearestCellMap = [-1] * n
        self.cellTable = []
        self.prevCellTable = []
        self.curCount = self.prevCount = self.finalCount = self.linkCount = 0
        self.linkHistory = [[] for _ in range(50)]
        self.nextCellId = 0
        self.labelMap = [-1] * 2000
        self.voronoiPairs = []
