#!/usr/bin/env python3
"""Times orvane, the floor and the tools users pick instead on the same work.

Called by bench/run, which installs the tools and builds the programs. Wall
times come from hyperfine, one run per tool per round, the tools in a
different order each round, so that every tool meets the same state of the
machine. Peak memory comes from GNU time. The figures go into the part of
docs/benchmarks.md between its result markers, and a chart of the ratios into
docs/benchmarks.svg.
"""
import argparse
import csv
import datetime
import filecmp
import math
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import time
from dataclasses import dataclass
from typing import Callable, List, NamedTuple

BACKGROUNDS = '/usr/share/backgrounds/mate'


class Tools(NamedTuple):
    """Each tool's name in the results, the tables and the chart, in the
    order they list the tools."""
    orvane: str = 'orvane'
    floor: str = 'floor'
    imagemagick: str = 'convert'
    graphicsmagick: str = 'gm'
    libvips: str = 'vips'


TOOLS = Tools()
BEGIN = '<!-- results:begin -->'
END = '<!-- results:end -->'


@dataclass(frozen=True)
class Case:
    """One piece of work, as each tool is told to do it."""
    name: str
    orvane_options: List[str]
    floor_edits: List[str]
    imagemagick_ops: List[str]
    graphicsmagick_ops: List[str]
    # The whole command, for (image, output with its save options, a
    # scratch file for chains).
    libvips_command: Callable[['Image', str, str], List[str]]
    # The output's extension; the input's own when empty.
    save_as: str = ''


# Rotation is counter-clockwise in orvane and libvips, clockwise in the other
# two. Resizes use the B-spline ("Cubic") filter where the tool has it.
CASES = [
    Case('re-save', orvane_options=[], floor_edits=[], imagemagick_ops=[],
         graphicsmagick_ops=[],
         libvips_command=lambda i, o, t: ['vips', 'copy', i.path, o]),
    Case('-w 800', orvane_options=['-w', '800'], floor_edits=['w800'],
         imagemagick_ops=['-filter', 'Cubic', '-resize', '800x'],
         graphicsmagick_ops=['-filter', 'Cubic', '-resize', '800x'],
         libvips_command=lambda i, o, t: [
             'vips', 'resize', i.path, o, '%.8f' % (800 / i.width)]),
    Case('-r 90', orvane_options=['-r', '90'], floor_edits=['r90'],
         imagemagick_ops=['-rotate', '-90'],
         graphicsmagick_ops=['-rotate', '-90'],
         libvips_command=lambda i, o, t: ['vips', 'rot', i.path, o, 'd270']),
    Case('-r 30', orvane_options=['-r', '30'], floor_edits=['r30'],
         imagemagick_ops=['-background', 'black', '-rotate', '-30'],
         graphicsmagick_ops=['-background', 'black', '-rotate', '-30'],
         libvips_command=lambda i, o, t: ['vips', 'rotate', i.path, o, '30']),
    Case('-fh', orvane_options=['-fh'], floor_edits=['fh'],
         imagemagick_ops=['-flop'], graphicsmagick_ops=['-flop'],
         libvips_command=lambda i, o, t: [
             'vips', 'flip', i.path, o, 'horizontal']),
    Case('-c 1000x800', orvane_options=['-c', '100', '100', '1000', '800'],
         floor_edits=['c100,100,1000,800'],
         imagemagick_ops=['-crop', '1000x800+100+100', '+repage'],
         graphicsmagick_ops=['-crop', '1000x800+100+100'],
         libvips_command=lambda i, o, t: [
             'vips', 'crop', i.path, o, '100', '100', '1000', '800']),
    Case('-o png', orvane_options=[], floor_edits=[], imagemagick_ops=[],
         graphicsmagick_ops=[],
         libvips_command=lambda i, o, t: ['vips', 'copy', i.path, o],
         save_as='.png'),
    Case('-r 90 -w 800', orvane_options=['-r', '90', '-w', '800'],
         floor_edits=['r90', 'w800'],
         imagemagick_ops=['-rotate', '-90', '-filter', 'Cubic', '-resize',
                          '800x'],
         graphicsmagick_ops=['-rotate', '-90', '-filter', 'Cubic', '-resize',
                             '800x'],
         libvips_command=lambda i, o, t: [
             'sh', '-c', 'vips rot %s %s d270 && vips resize %s %s %.8f'
             % (shlex.quote(i.path), shlex.quote(t), shlex.quote(t),
                shlex.quote(o), 800 / i.height)]),
]
SCALING_CASES = [c for c in CASES if c.name in ('-w 800', '-r 90')]


class Measured(NamedTuple):
    seconds: float    # median wall time
    kilobytes: float  # median peak memory


class Image:
    def __init__(self, name, path):
        self.name, self.path = name, path
        self.ext = os.path.splitext(path)[1].lower()
        self.width = int(output(['vipsheader', '-f', 'width', path]))
        self.height = int(output(['vipsheader', '-f', 'height', path]))

    @property
    def megapixels(self):
        return self.width * self.height / 1e6


def output(argv):
    return subprocess.run(argv, check=True, capture_output=True,
                          text=True).stdout.strip()


def commands(args, case, image):
    """The argv of every tool for one case on one image."""
    ext = case.save_as or image.ext
    out = os.path.join(args.work, 'out' + ext)
    if ext == '.png':  # zlib level 4: what the save flags 100 ask of the library
        magick_quality, vips_options = ['-quality', '45'], '[compression=4]'
    else:  # quality 100 with the library's 4:2:0 chroma subsampling
        magick_quality = ['-quality', '100', '-sampling-factor', '2x2']
        vips_options = '[Q=100,subsample-mode=on]'
    temp = os.path.join(args.work, 'chain.v')
    return {
        TOOLS.orvane: [args.orvane] + case.orvane_options +
                      ['-oq', '100', '-o', out, image.path],
        TOOLS.floor: [args.floor, image.path, out, '100'] + case.floor_edits,
        TOOLS.imagemagick: ['convert', image.path] + case.imagemagick_ops +
                           magick_quality + [out],
        TOOLS.graphicsmagick: ['gm', 'convert', image.path] +
                              case.graphicsmagick_ops + magick_quality + [out],
        TOOLS.libvips: case.libvips_command(image, out + vips_options, temp),
    }


def time_once(argvs, work):
    """Wall seconds of each command, run one after the other by hyperfine."""
    report = os.path.join(work, 'times.csv')
    subprocess.run(['hyperfine', '-N', '--runs', '1', '--style', 'none',
                    '--export-csv', report] +
                   [shlex.join(a) for a in argvs],
                   check=True, stdout=subprocess.DEVNULL)
    with open(report) as f:
        return [float(row['mean']) for row in csv.DictReader(f)]


def peak_kilobytes(argv, work):
    report = os.path.join(work, 'memory.txt')
    subprocess.run(['/usr/bin/time', '-f', '%M', '-o', report] + argv,
                   check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1])


def measure(jobs, runs, work, memory_runs=3, warm_up=True):
    """jobs: {key: {tool: argv}}. Returns {key: {tool: Measured}}.

    Round 0 warms the caches and is not counted; without warm_up, the
    caller has warmed them. With memory_runs 0, memory is not measured and
    given as 0."""
    times = {key: {tool: [] for tool in tools} for key, tools in jobs.items()}
    for round_number in range(0 if warm_up else 1, runs + 1):
        for key, tools in jobs.items():
            names = list(tools)
            shift = round_number % len(names)
            names = names[shift:] + names[:shift]
            seconds = time_once([tools[n] for n in names], work)
            if round_number > 0:
                for n, s in zip(names, seconds):
                    times[key][n].append(s)
        print('round %d of %d done' % (round_number, runs), flush=True)
    results = {}
    for key, tools in jobs.items():
        results[key] = {}
        for tool, argv in tools.items():
            memory = statistics.median(
                [peak_kilobytes(argv, work) for _ in range(memory_runs)] or [0])
            results[key][tool] = Measured(
                statistics.median(times[key][tool]), memory)
    return results


def check_orvane_matches_floor(args, jobs):
    """Orvane must produce byte for byte what the bare library calls do."""
    mismatches = []
    for key, tools in jobs.items():
        orvane, floor = tools[TOOLS.orvane], tools[TOOLS.floor]
        out = orvane[orvane.index('-o') + 1]  # the floor writes there too
        subprocess.run(floor, check=True)
        with open(out, 'rb') as f:
            floor_bytes = f.read()
        subprocess.run(orvane, check=True)
        with open(out, 'rb') as f:
            if f.read() != floor_bytes:
                mismatches.append(key)
    return mismatches


def inputs(args):
    elephants = os.path.join(BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg')
    wood = os.path.join(BACKGROUNDS, 'nature/Wood.jpg')
    images = []
    for name, source in (('Elephants_5640x3172.jpg', elephants),
                         ('Wood.jpg', wood)):
        path = os.path.join(args.work, name)
        shutil.copy(source, path)
        images.append(Image(name, path))
    png = os.path.join(args.work, 'Wood.png')
    subprocess.run([args.orvane, '-o', png, images[1].path], check=True)
    images.append(Image('Wood.png (made from Wood.jpg)', png))
    return images


def scaled_inputs(args, base):
    images = []
    for megapixels in (1, 4, 16, 64):
        width = round(math.sqrt(megapixels * 1e6 * base.width / base.height))
        height = round(width * base.height / base.width)
        path = os.path.join(args.work, 'scaled-%d.jpg' % megapixels)
        subprocess.run([args.orvane, '-wh', str(width), str(height), '-o', path,
                        base.path], check=True)
        images.append(Image('%d MP' % megapixels, path))
    return images


def machine_facts(packages=('libfreeimage3', 'imagemagick', 'graphicsmagick',
                            'libvips-tools', 'hyperfine', 'mate-backgrounds')):
    def package(name):
        return output(['dpkg-query', '-W', '-f', '${Version}', name])
    cpu = 'unknown'
    with open('/proc/cpuinfo') as f:
        for line in f:
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    with open('/proc/meminfo') as f:
        memory = int(f.readline().split()[1]) / 2**20
    return [
        'Measured on %s.' % datetime.date.today().isoformat(),
        'Machine: %s, %d cores, %.0f GiB, Linux %s, %s.' % (
            cpu, os.cpu_count(), memory, platform.release(),
            output(['sh', '-c', '. /etc/os-release && echo "$PRETTY_NAME"'])),
        'Packages: %s.' % ', '.join('%s %s' % (p, package(p))
                                    for p in packages),
    ]


def ratio(a, b):
    return '%.2f' % (a / b)


def comparison_table(image, results):
    lines = [
        '| Case | Tool | Median time (s) | x floor | x orvane | '
        'Peak memory (MB) | Memory x floor |',
        '|---|---|---:|---:|---:|---:|---:|']
    for case in CASES:
        r = results[(image.name, case.name)]
        floor_s, floor_kb = r[TOOLS.floor]
        orvane_s = r[TOOLS.orvane].seconds
        for tool in TOOLS:
            s, kb = r[tool]
            lines.append('| %s | %s | %.3f | %s | %s | %.0f | %s |' % (
                case.name if tool == TOOLS.orvane else '', tool, s,
                ratio(s, floor_s), ratio(s, orvane_s), kb / 1024,
                ratio(kb, floor_kb)))
    return lines


def targets_table(images, results):
    lines = ['| Input | Case | Time x floor | Memory x floor | '
             'Faster than %s | Faster than %s |' % (TOOLS.imagemagick,
                                                    TOOLS.graphicsmagick),
             '|---|---|---:|---:|---|---|']
    for image in images:
        for case in CASES:
            r = results[(image.name, case.name)]
            orvane, floor = r[TOOLS.orvane], r[TOOLS.floor]
            time_ratio = orvane.seconds / floor.seconds
            memory_ratio = orvane.kilobytes / floor.kilobytes
            lines.append('| %s | %s | %.3f%s | %.3f%s | %s | %s |' % (
                image.name, case.name, time_ratio,
                '' if time_ratio <= 1.03 else ' (missed)', memory_ratio,
                '' if memory_ratio <= 1.05 else ' (missed)',
                'yes' if orvane.seconds < r[TOOLS.imagemagick].seconds
                else 'no',
                'yes' if orvane.seconds < r[TOOLS.graphicsmagick].seconds
                else 'no'))
    return lines


def scaling_table(images, results):
    lines = ['| Size | Pixels | Case | orvane (s) | floor (s) | x floor | '
             'orvane (MB) | floor (MB) | MB per megapixel |',
             '|---|---:|---|---:|---:|---:|---:|---:|---:|']
    for image in images:
        for case in SCALING_CASES:
            r = results[(image.name, case.name)]
            (os_, okb), (fs, fkb) = r[TOOLS.orvane], r[TOOLS.floor]
            lines.append('| %s | %dx%d | %s | %.3f | %.3f | %s | %.0f | %.0f '
                         '| %.1f |' % (image.name, image.width, image.height,
                                       case.name, os_, fs, ratio(os_, fs),
                                       okb / 1024, fkb / 1024,
                                       okb / 1024 / image.megapixels))
    return lines


# The y axis of a panel of times over the floor's, and of one of PSNR.
TIME_AXIS = """set logscale y 2
set yrange [0.25:*]
set ytics (0.25, 0.5, 1, 2, 4, 8, 16, 32)
set ylabel 'x floor'"""
PSNR_AXIS = """unset logscale y
set yrange [%d:%d]
set ytics autofreq
set ylabel 'PSNR (dB)'"""


class Panel(NamedTuple):
    """One plot of grouped bars: a group a row, a bar a column."""
    title: str
    columns: List[str]
    rows: list    # (label, [value for each column]); NaN where none
    axis: str     # the gnuplot lines that set its y axis


def histogram_chart(work, chart, title, panels, height):
    """Draws the panels one above the other into the SVG file chart."""
    data = os.path.join(work, 'chart.dat')
    with open(data, 'w') as f:
        for panel in panels:
            # The first line of a block names its columns, for the key.
            f.write(' '.join(['case'] + ['"%s"' % c for c in panel.columns])
                    + '\n')
            for label, values in panel.rows:
                f.write('"%s" %s\n' % (label, ' '.join('%.4f' % v
                                                        for v in values)))
            f.write('\n\n')
    plots = []
    for index, panel in enumerate(panels):
        plots.append(
            "%s\nset title '%s'\n"
            "plot for [c=2:%d] '%s' index %d using c:xtic(1) title columnhead(c)"
            % (panel.axis, panel.title, len(panel.columns) + 1, data, index))
    script = """
set terminal svg size 960,%d dynamic noenhanced font 'sans,11' background '#ffffff'
set output '%s'
set multiplot layout %d,1 title "%s"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set grid ytics
set key top left horizontal
set xtics nomirror
%s
unset multiplot
""" % (height, chart, len(panels), title, '\n'.join(plots))
    with open(os.path.join(work, 'chart.gp'), 'w') as f:
        f.write(script)
    subprocess.run(['gnuplot', os.path.join(work, 'chart.gp')], check=True)


def write_chart(args, images, results):
    """Grouped bars of each tool's time over the floor's, one panel a photo."""
    panels = []
    for image in images:
        rows = []
        for case in CASES:
            r = results[(image.name, case.name)]
            rows.append((case.name, [r[t].seconds / r[TOOLS.floor].seconds
                                     for t in TOOLS]))
        panels.append(Panel(image.name, list(TOOLS), rows, TIME_AXIS))
    histogram_chart(args.work, args.chart, 'Wall time relative to the bare '
                    'library calls (floor = 1; lower is faster; log scale)',
                    panels, 1200)


def write_markdown(args, images, scaled, results, scaling, mismatches):
    lines = [BEGIN, '']
    lines += machine_facts()
    lines += ['', 'Median over %d runs of each tool per case; peak memory is '
              'the median of 3 runs.' % args.runs, '']
    lines += ['### Targets: orvane against the floor, and against the tools '
              'users pick instead', '']
    lines += targets_table(images, results)
    lines += ['', 'Orvane wrote byte-identical output to the floor in every '
              'case.' if not mismatches else
              'Output differed from the floor in: ' + ', '.join(
                  '%s %s' % k for k in mismatches), '']
    for image in images:
        lines += ['### %s, %dx%d (%.1f megapixels)' % (
            image.name, image.width, image.height, image.megapixels), '']
        lines += comparison_table(image, results) + ['']
    lines += ['### How cost grows with the picture', '',
              'Elephants_5640x3172.jpg scaled by orvane (-wh) to each size.', '']
    lines += scaling_table(scaled, scaling) + ['', END]
    text = open(args.markdown).read() if os.path.exists(args.markdown) else (
        '# Benchmarks\n\n' + BEGIN + '\n' + END + '\n')
    before, rest = text.split(BEGIN, 1)
    after = rest.split(END, 1)[1]
    with open(args.markdown, 'w') as f:
        f.write(before + '\n'.join(lines) + after)


# Orvane.exe under Wine against the Linux build (bench/wine).
WINE_BEGIN = '<!-- wine:begin -->'
WINE_END = '<!-- wine:end -->'
START_UP = 'start-up'


def windows_path(path):
    """The name a Windows program under Wine knows a Unix file by."""
    return 'Z:' + path.replace('/', '\\')


def wine_commands(args, case, image):
    """The argv of each build for one case, and the file each writes."""
    ext = case.save_as or image.ext
    options = case.orvane_options + ['-oq', '100', '-o']
    linux_out = os.path.join(args.work, 'linux' + ext)
    wine_out = os.path.join(args.work, 'wine' + ext)
    argvs = {'linux': [args.orvane] + options + [linux_out, image.path],
             'wine': [args.wine, args.orvane_exe] + options +
                     [windows_path(wine_out), windows_path(image.path)]}
    return argvs, (linux_out, wine_out)


def outputs_differ(args, images):
    """The cases where the two builds wrote different bytes."""
    differ = []
    for image in images:
        for case in CASES:
            argvs, outs = wine_commands(args, case, image)
            contents = []
            for argv, out in zip(argvs.values(), outs):
                subprocess.run(argv, check=True)
                with open(out, 'rb') as f:
                    contents.append(f.read())
            if contents[0] != contents[1]:
                differ.append((image.name, case.name))
    return differ


def wine_table(images, results):
    """Each case's times, and the ratio once each system's own start-up, the
    time a program that does nothing takes, is taken out."""
    linux_start = results[('', START_UP)]['linux'].seconds
    wine_start = results[('', START_UP)]['wine'].seconds
    lines = ['| Input | Case | Linux (s) | Wine (s) | Wine less its start-up '
             '(s) | Ratio |', '|---|---|---:|---:|---:|---:|']
    ratios = []
    for image in images:
        for case in CASES:
            r = results[(image.name, case.name)]
            linux, wine = r['linux'].seconds, r['wine'].seconds
            ratios.append((wine - wine_start) / (linux - linux_start))
            lines.append('| %s | %s | %.3f | %.3f | %.3f | %.2f |' % (
                image.name, case.name, linux, wine, wine - wine_start,
                ratios[-1]))
    return lines, ratios


def replace_section(markdown, begin, end, lines):
    """Puts lines in place of the part of the file from begin to end; the
    lines carry both marks themselves."""
    text = open(markdown).read()
    before, rest = text.split(begin, 1)
    after = rest.split(end, 1)[1]
    with open(markdown, 'w') as f:
        f.write(before + '\n'.join(lines) + after)


def write_wine_markdown(args, images, results, differ):
    start = results[('', START_UP)]
    with open(args.dll_versions) as f:
        versions = f.read().strip()
    table, ratios = wine_table(images, results)
    lines = [WINE_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'wine64', 'hyperfine',
                            'mate-backgrounds'))
    lines += ['', 'The Windows build, Orvane.exe with:', '', '```', versions,
              '```', '',
              'Median over %d runs of each build per case. A program that '
              'does nothing takes %.1f ms to run on Linux and %.1f ms under '
              'Wine; the ratio is (Wine - %.1f ms) / (Linux - %.1f ms).' % (
                  args.runs, start['linux'].seconds * 1e3,
                  start['wine'].seconds * 1e3, start['wine'].seconds * 1e3,
                  start['linux'].seconds * 1e3), '']
    lines += table
    lines += ['', 'Ratio over the %d cases: median %.2f, from %.2f to %.2f.' % (
        len(ratios), statistics.median(ratios), min(ratios), max(ratios)), '',
        'Orvane.exe wrote byte-identical output to the Linux build in every '
        'case.' if not differ else 'Output differed from the Linux build '
        'in: ' + ', '.join('%s %s' % k for k in differ), '', WINE_END]
    replace_section(args.markdown, WINE_BEGIN, WINE_END, lines)


def main_wine(args):
    images = [image for image in inputs(args)
              if not args.photos or image.name.split()[0] in args.photos]
    differ = outputs_differ(args, images)
    jobs = {('', START_UP): {'linux': [args.empty],
                             'wine': [args.wine, args.empty_exe]}}
    for image in images:
        for case in CASES:
            jobs[(image.name, case.name)] = wine_commands(args, case, image)[0]
    results = measure(jobs, args.runs, args.work, memory_runs=0)
    write_wine_markdown(args, images, results, differ)


# -lossless against the same line without it, the floor's re-encoding and
# jpegtran doing the same single transform (bench/lossless).
LOSSLESS_BEGIN = '<!-- lossless:begin -->'
LOSSLESS_END = '<!-- lossless:end -->'
LOSSLESS = 'orvane -lossless'
REENCODED = 'orvane'
JPEGTRAN = 'jpegtran'
JPEGTRAN_BASELINE = 'jpegtran, baseline'


@dataclass(frozen=True)
class LosslessCase:
    """One edit that -lossless can do, as each program is told to do it."""
    photo: str  # under BACKGROUNDS
    options: List[str]
    floor_edits: List[str]
    jpegtran: List[str]  # jpegtran turns clockwise, and crops the result
    # The edit made on the decoded photo, by Pillow's names of transposes.
    crop: tuple
    transpose: str
    # Coded again first as baseline with optimised tables (jpegtran -copy
    # all -optimize), as a camera's photo is.
    baseline: bool = False

    def key(self):
        return ' '.join([self.photo] + self.options +
                        (['baseline'] if self.baseline else []))

    def name(self):
        return os.path.basename(self.photo) + (', made baseline'
                                               if self.baseline else '')


# Whole blocks of 16 x 8 turned; the photo's partial blocks at the right and
# bottom would have to move, so the crop leaves them out. jpegtran leaves
# them where they were, so its crop of the turned picture is the same.
ELEPHANTS_TURNED = dict(
    photo='abstract/Elephants_5640x3172.jpg',
    options=['-c', '0', '0', '5632', '3168', '-r', '90'],
    floor_edits=['c0,0,5632,3168', 'r90'],
    jpegtran=['-rotate', '270', '-crop', '3168x5632+0+0'],
    crop=(0, 0, 5632, 3168), transpose='ROTATE_90')
LOSSLESS_CASES = [
    LosslessCase(**ELEPHANTS_TURNED),  # progressive
    LosslessCase(**ELEPHANTS_TURNED, baseline=True),
    LosslessCase('abstract/Elephants_5640x3172.jpg',
                 ['-c', '0', '0', '5632', '3172', '-fh'],
                 ['c0,0,5632,3172', 'fh'],
                 ['-flip', 'horizontal', '-crop', '5632x3172+0+0'],
                 (0, 0, 5632, 3172), 'FLIP_LEFT_RIGHT', baseline=True),
    LosslessCase('nature/Wood.jpg', ['-r', '90'], ['r90'], ['-rotate', '270'],
                 None, 'ROTATE_90'),
    LosslessCase('nature/Wood.jpg', ['-fh'], ['fh'],
                 ['-flip', 'horizontal'], None, 'FLIP_LEFT_RIGHT'),
]


def frame(path):
    """(marker, width, height) of a JPEG's frame header, by its markers;
    marker 0 when there is none."""
    with open(path, 'rb') as f:
        data = f.read()
    at = 2
    while at + 9 <= len(data) and data[at] == 0xFF:
        marker = data[at + 1]
        if marker in (0xC0, 0xC1, 0xC2):
            return (marker, int.from_bytes(data[at + 7:at + 9], 'big'),
                    int.from_bytes(data[at + 5:at + 7], 'big'))
        at += 2 + int.from_bytes(data[at + 2:at + 4], 'big')
    return 0, 0, 0


def progressive(path):
    """Whether a JPEG's frame is progressive (SOF2)."""
    return frame(path)[0] == 0xC2


def lossless_commands(args, case, photo):
    """The argv of every program for one case, and the file each writes."""
    outs = {name: os.path.join(args.work, '%d.jpg' % i) for i, name in
            enumerate((LOSSLESS, REENCODED, TOOLS.floor, JPEGTRAN,
                       JPEGTRAN_BASELINE))}
    # With optimised tables, as Orvane codes a baseline result.
    jpegtran = ['jpegtran', '-copy', 'all', '-optimize'] + case.jpegtran
    argvs = {
        LOSSLESS: [args.orvane, '-lossless'] + case.options +
                  ['-o', outs[LOSSLESS], photo],
        REENCODED: [args.orvane] + case.options +
                   ['-oq', '100', '-o', outs[REENCODED], photo],
        TOOLS.floor: [args.floor, photo, outs[TOOLS.floor], '100'] +
                     case.floor_edits,
        JPEGTRAN: jpegtran + (['-progressive'] if progressive(photo) else []) +
                  ['-outfile', outs[JPEGTRAN], photo],
    }
    if progressive(photo):  # what keeping it progressive costs
        argvs[JPEGTRAN_BASELINE] = jpegtran + ['-outfile',
                                               outs[JPEGTRAN_BASELINE], photo]
    return argvs, outs


def decoded(path, *options):
    """The picture as djpeg decodes it."""
    from PIL import Image  # only this comparison needs Pillow
    import io
    done = subprocess.run(['djpeg'] + list(options) + ['-pnm', path],
                          check=True, capture_output=True)
    return Image.open(io.BytesIO(done.stdout)).convert('RGB')


def differences(a, b):
    """(samples that differ, largest difference) of two pictures."""
    from PIL import ImageChops
    histogram = ImageChops.difference(a, b).histogram()
    counts = [sum(histogram[band * 256 + v] for band in range(3))
              for v in range(256)]
    return sum(counts[1:]), max(v for v in range(256) if counts[v])


def lossless_checks(case, photo, outs):
    """What the lossless output is: jpegtran's blocks or not, and how far
    it decodes from the edit made on the decoded photo."""
    from PIL import Image
    same = decoded(outs[LOSSLESS]).tobytes() == \
        decoded(outs[JPEGTRAN]).tobytes()
    checks = {'same as jpegtran': same}
    for name, options in (('float DCT, no fancy upsampling',
                           ('-dct', 'float', '-nosmooth')),
                          ("djpeg's defaults", ())):
        picture = decoded(photo, *options)
        if case.crop:
            picture = picture.crop(case.crop)
        picture = picture.transpose(getattr(Image.Transpose, case.transpose))
        checks[name] = differences(picture, decoded(outs[LOSSLESS], *options))
    return checks


def refusal(args, photo):
    """The first line Orvane gives for -lossless -r 90 on the whole photo."""
    done = subprocess.run([args.orvane, '-lossless', '-r', '90', '-o',
                           os.path.join(args.work, 'refused.jpg'), photo],
                          capture_output=True, text=True)
    return done.returncode, done.stderr.strip().splitlines()[0]


def lossless_table(results, sizes, photos):
    lines = ['| Photo | Edit | Program | Median time (s) | x -lossless | '
             'Peak memory (MB) | Output (MB) | Output x input |',
             '|---|---|---|---:|---:|---:|---:|---:|']
    for case in LOSSLESS_CASES:
        r = results[case.key()]
        first = True
        for name, (seconds, kb) in r.items():
            size = sizes[case.key()][name]
            lines.append('| %s | %s | %s | %.3f | %.2f | %.0f | %.2f | %.3f |'
                         % (case.name() if first else '',
                            ' '.join(case.options) if first else '', name,
                            seconds, seconds / r[LOSSLESS].seconds,
                            kb / 1024, size / 1e6,
                            size / os.path.getsize(photos[case.key()])))
            first = False
    return lines


def lossless_verdicts(case, r, sizes, photo, checks):
    grew = sizes[LOSSLESS] / os.path.getsize(photo) - 1
    ratio = r[LOSSLESS].seconds / r[JPEGTRAN].seconds
    against_jpegtran = sizes[LOSSLESS] / sizes[JPEGTRAN] - 1
    exact, exact_largest = checks['float DCT, no fancy upsampling']
    usual, usual_largest = checks["djpeg's defaults"]
    return [
        '- %s, `-lossless %s`:' % (case.name(), ' '.join(case.options)),
        '  - the same blocks as jpegtran (both decode alike): %s' %
        ('yes' if checks['same as jpegtran'] else 'NO'),
        '  - against the edit made on the decoded photo: %d samples differ, '
        'by at most %d, decoded with the float DCT and without fancy '
        'upsampling; %d, by at most %d, with djpeg\'s defaults' %
        (exact, exact_largest, usual, usual_largest),
        '  - %.2f times the time of the same line without -lossless (%s)' %
        (r[LOSSLESS].seconds / r[REENCODED].seconds,
         'faster' if r[LOSSLESS].seconds < r[REENCODED].seconds
         else 'NOT faster'),
        '  - %.2f times jpegtran\'s time (%s 5%%)' %
        (ratio, 'within' if ratio <= 1.05 else 'NOT within'),
        '  - output %+.2f%% against jpegtran\'s, metadata copied by both '
        '(%s 0.1%% larger)' %
        (100 * against_jpegtran,
         'no more than' if against_jpegtran <= 0.001 else 'MORE than'),
        '  - output %+.2f%% against the input (%s 2%% larger)' %
        (100 * grew, 'no more than' if grew <= 0.02 else 'MORE than'),
    ]


def write_lossless_markdown(args, results, sizes, photos, checks, refused):
    lines = [LOSSLESS_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'libturbojpeg0',
                            'libjpeg-turbo-progs', 'hyperfine',
                            'mate-backgrounds'))
    lines += ['', 'Median over %d runs of each program per case; peak '
              'memory is the median of 3 runs.' % args.runs, '']
    lines += lossless_table(results, sizes, photos) + ['']
    status, first = refused
    lines += ['The whole Elephants photo turned, `-lossless -r 90`: status '
              '%d, "%s"' % (status, first), '']
    for case in LOSSLESS_CASES:
        lines += lossless_verdicts(case, results[case.key()],
                                   sizes[case.key()], photos[case.key()],
                                   checks[case.key()])
    lines += ['', LOSSLESS_END]
    replace_section(args.markdown, LOSSLESS_BEGIN, LOSSLESS_END, lines)


def lossless_photo(args, case):
    """The case's photo in the work folder, made baseline if it says so."""
    name = os.path.basename(case.photo)
    original = os.path.join(BACKGROUNDS, case.photo)
    if not case.baseline:
        photo = os.path.join(args.work, name)
        shutil.copy(original, photo)
        return photo
    photo = os.path.join(args.work, 'baseline-' + name)
    subprocess.run(['jpegtran', '-copy', 'all', '-optimize', '-outfile',
                    photo, original], check=True)
    return photo


def main_lossless(args):
    photos, jobs, outs = {}, {}, {}
    for i, case in enumerate(LOSSLESS_CASES):
        key = case.key()
        photos[key] = lossless_photo(args, case)
        case_work = os.path.join(args.work, 'case%d' % i)
        os.makedirs(case_work, exist_ok=True)
        jobs[key], outs[key] = lossless_commands(
            argparse.Namespace(**dict(vars(args), work=case_work)), case,
            photos[key])
    results = measure(jobs, args.runs, args.work)
    sizes, checks = {}, {}
    for case in LOSSLESS_CASES:
        key = case.key()
        for argv in jobs[key].values():  # the outputs of one run each
            subprocess.run(argv, check=True)
        sizes[key] = {name: os.path.getsize(outs[key][name])
                      for name in jobs[key]}
        checks[key] = lossless_checks(case, photos[key], outs[key])
    refused = refusal(args, photos[LOSSLESS_CASES[0].key()])
    write_lossless_markdown(args, results, sizes, photos, checks, refused)


# Thumbnails: a resize first, where a JPEG can be decoded at a reduced
# scale, on the large photo and on a 749-megapixel one made at bench time,
# against vipsthumbnail, ImageMagick and GraphicsMagick (bench/thumbnails).
THUMBNAILS_BEGIN = '<!-- thumbnails:begin -->'
THUMBNAILS_END = '<!-- thumbnails:end -->'
ORVANE_FULL = 'orvane, full decode'
ORVANE_ONE_THREAD = 'orvane, 1 thread'  # ORVANE_THREADS=1: as before threads
FLOOR_REDUCED = 'floor, reduced decode'
VIPSTHUMBNAIL = 'vipsthumbnail'
IMAGEMAGICK_HINTED = 'convert, jpeg:size'
GRAPHICSMAGICK_HINTED = 'gm, -size'
# Debian's, by their full names: a convert earlier on PATH is not
# ImageMagick's.
IMAGEMAGICK = '/usr/bin/convert'
GRAPHICSMAGICK = '/usr/bin/gm'


class Filter(NamedTuple):
    """One of orvane's -filter names, as the floor is told it, and how many
    times the resize's target a reduced decode keeps on each side
    (kReducedMargins)."""
    floor: str
    margin: float


FILTERS = {'': Filter('bspline', 3), 'Lanczos': Filter('lanczos3', 2)}


class ThumbnailCase(NamedTuple):
    """A resize to one side, with orvane's filter ('' for its default)."""
    filter: str
    width: int   # 0: worked out from the height
    height: int  # 0: worked out from the width

    @property
    def name(self):
        side = '-w %d' % self.width if self.width else '-h %d' % self.height
        return ('-filter %s %s' % (self.filter, side)).strip() \
            if self.filter else side

    @property
    def options(self):
        return self.name.split()


# The web copies people make most, with the sharp filter and the default.
THUMBNAIL_CASES = (ThumbnailCase('Lanczos', 1600, 0),
                   ThumbnailCase('', 800, 0),
                   ThumbnailCase('Lanczos', 0, 1080))
# The case whose picture is compared over every photo of mate-backgrounds.
QUALITY_CASE = ThumbnailCase('Lanczos', 800, 0)
# Orvane's targets against the floor and vipsthumbnail, and the most its
# PSNR may fall below vipsthumbnail's.
# vipsthumbnail's time is the bound on the 17.9-megapixel photos: a baseline
# one can be resized while it is decoded, a progressive one only once every
# scan is read. Peak memory at most MOST_X_VIPS_MEMORY times its.
MOST_X_FLOOR = 1.03
MOST_X_VIPSTHUMBNAIL = {False: 0.80, True: 0.95}  # by progressive
MOST_X_VIPS_MEMORY = 1.2
MOST_MB_OVER_FLOOR, MOST_DB_UNDER_VIPSTHUMBNAIL = 10, 0.2
# The made photo: Elephants turned on its side, cut to these proportions and
# enlarged bilinearly, with a little noise, coded by cjpeg. Its file name
# carries every parameter, so a cached copy is the same picture.
BIG_WIDTH, BIG_HEIGHT, BIG_QUALITY, BIG_NOISE = 22500, 33300, 90, 1.5
BIG_BAND = 256  # rows made at a time: the picture is streamed, never held


@dataclass(frozen=True)
class ThumbnailInput:
    name: str
    path: str
    width: int
    height: int
    big: bool  # fewer runs, and a time limit for each tool

    @property
    def megapixels(self):
        return self.width * self.height / 1e6


def target(width, height, case):
    """The size orvane resizes a width x height picture to (ResizeTarget)."""
    w, h = case.width, case.height
    if w <= 0:
        w = max(1, width * h // height)
    if h <= 0:
        h = max(1, height * w // width)
    return w, h


def kept(w, h, margin):
    """The least width and height a reduced decode keeps, as orvane works
    them out: margin times the target, rounded up."""
    return math.ceil(margin * w), math.ceil(margin * h)


def wanted_side(width, height, w, h, margin):
    """The longer side the JPEG load is asked for: what it keeps on each
    side, in the photo's proportions."""
    longer = max(width, height)
    across, down = kept(w, h, margin)
    return max(-(-across * longer // width), -(-down * longer // height))


def reduction(width, height, side):
    """The scale the library decodes at for that request: the largest of
    1/8, 1/4 and 1/2 whose longer side is at least side (PluginJPEG)."""
    longer = max(width, height)
    for denominator in (8, 4, 2):
        if longer // denominator >= side:
            return denominator
    return 1


def case_reduction(width, height, case):
    """The scale orvane decodes a width x height JPEG at for the case."""
    w, h = target(width, height, case)
    return reduction(width, height, wanted_side(
        width, height, w, h, FILTERS[case.filter].margin))


def jpeg_size(path):
    return frame(path)[1:]


def write_big_pixels(out):
    """Streams the made photo as PPM to out, BIG_BAND rows at a time."""
    import numpy
    from PIL import Image
    source = Image.open(os.path.join(
        BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg')).convert('RGB')
    source = source.transpose(Image.Transpose.ROTATE_90)
    # Cut to the made photo's proportions, then enlarged.
    rows = round(source.width * BIG_HEIGHT / BIG_WIDTH)
    top = (source.height - rows) // 2
    source = numpy.asarray(source.crop((0, top, source.width, top + rows)),
                           dtype=numpy.float32)
    sh, sw = source.shape[:2]

    def taps(size, source_size):
        at = numpy.clip((numpy.arange(size) + 0.5) * source_size / size - 0.5,
                        0, source_size - 1)
        first = numpy.floor(at).astype(numpy.intp)
        return first, numpy.minimum(first + 1, source_size - 1), \
            (at - first).astype(numpy.float32)

    x0, x1, fx = taps(BIG_WIDTH, sw)
    fx = fx[None, :, None]
    y0, y1, fy = taps(BIG_HEIGHT, sh)
    noise = numpy.random.default_rng(1).normal(
        0, BIG_NOISE, (BIG_BAND, BIG_WIDTH, 3)).astype(numpy.float32)
    out.write(b'P6\n%d %d\n255\n' % (BIG_WIDTH, BIG_HEIGHT))
    for y in range(0, BIG_HEIGHT, BIG_BAND):
        band = slice(y, min(y + BIG_BAND, BIG_HEIGHT))
        f = fy[band][:, None, None]
        lines = source[y0[band]] * (1 - f) + source[y1[band]] * f
        pixels = lines[:, x0] * (1 - fx) + lines[:, x1] * fx
        pixels += noise[:pixels.shape[0]]
        numpy.clip(pixels, 0, 255, out=pixels)
        out.write(pixels.astype(numpy.uint8).tobytes())


def big_inputs(args):
    """The made photo, baseline, from the cache when it is there."""
    os.makedirs(args.cache, exist_ok=True)
    baseline = os.path.join(args.cache, 'made-%dx%d-q%d-noise%g-baseline.jpg'
                            % (BIG_WIDTH, BIG_HEIGHT, BIG_QUALITY, BIG_NOISE))
    if not os.path.exists(baseline):
        print('making %s' % baseline, flush=True)
        with open(baseline + '.part', 'wb') as f:
            coder = subprocess.Popen(['cjpeg', '-quality', str(BIG_QUALITY),
                                      '-optimize'], stdin=subprocess.PIPE,
                                     stdout=f)
            write_big_pixels(coder.stdin)
            coder.stdin.close()
            if coder.wait() != 0:
                raise RuntimeError('cjpeg failed')
        os.rename(baseline + '.part', baseline)
    return [ThumbnailInput('made, baseline', baseline, BIG_WIDTH, BIG_HEIGHT,
                           True)]


def thumbnail_inputs(args):
    elephants = os.path.join(args.work, 'Elephants_5640x3172.jpg')
    shutil.copy(os.path.join(BACKGROUNDS, 'abstract/Elephants_5640x3172.jpg'),
                elephants)
    baseline = os.path.join(args.work, 'Elephants-baseline.jpg')
    subprocess.run(['jpegtran', '-copy', 'all', '-optimize', '-outfile',
                    baseline, elephants], check=True)
    inputs_ = [ThumbnailInput('Elephants_5640x3172.jpg', elephants, 5640, 3172,
                              False),
               ThumbnailInput('Elephants, baseline', baseline, 5640, 3172,
                              False)]
    if not args.small_only:
        inputs_ += big_inputs(args)
    for image in inputs_:
        assert jpeg_size(image.path) == (image.width, image.height)
    return inputs_


def thumbnail_commands(args, image, case, ext='.jpg'):
    """The argv of every tool for one case on one photo, and the file each
    writes: a JPEG at quality 100 to be timed, or a PNG, whose picture is
    compared, with orvane's full decode beside it."""
    w, h = target(image.width, image.height, case)
    margin = FILTERS[case.filter].margin
    side = wanted_side(image.width, image.height, w, h, margin)
    # Orvane rounds the other side down, the others to the nearest: each
    # is given both sides, forced ('!'), so that all write the same size.
    resize = '%dx%d!' % (w, h)
    hint = '%dx%d' % kept(w, h, margin)  # what orvane asks of the load
    names = (TOOLS.orvane, ORVANE_ONE_THREAD, FLOOR_REDUCED, VIPSTHUMBNAIL,
             IMAGEMAGICK_HINTED, GRAPHICSMAGICK_HINTED, ORVANE_FULL)
    outs = {name: os.path.join(args.work, 'thumb%d%s' % (i, ext))
            for i, name in enumerate(names)}
    if ext == '.jpg':  # 4:2:0 at quality 100, as the library writes
        quality, vips_options = ['-oq', '100'], '[Q=100,subsample-mode=on]'
        magick = ['-thumbnail', resize, '-quality', '100',
                  '-sampling-factor', '2x2']
    else:
        quality, vips_options = [], ''
        magick = ['-thumbnail', resize]
    argvs = {
        TOOLS.orvane: [args.orvane] + case.options + quality +
                      ['-o', outs[TOOLS.orvane], image.path],
        ORVANE_ONE_THREAD: ['env', 'ORVANE_THREADS=1', args.orvane] +
                           case.options + quality +
                           ['-o', outs[ORVANE_ONE_THREAD], image.path],
        FLOOR_REDUCED: [args.floor, '-s', str(side), '-f',
                        FILTERS[case.filter].floor, image.path,
                        outs[FLOOR_REDUCED], '100', 'w%dx%d' % (w, h)],
        VIPSTHUMBNAIL: ['vipsthumbnail', image.path, '-s', resize, '-o',
                        outs[VIPSTHUMBNAIL] + vips_options],
        IMAGEMAGICK_HINTED: [IMAGEMAGICK, '-define', 'jpeg:size=' + hint,
                             image.path] + magick + [outs[IMAGEMAGICK_HINTED]],
        GRAPHICSMAGICK_HINTED: [GRAPHICSMAGICK, 'convert', '-size', hint,
                                image.path] + magick +
                               [outs[GRAPHICSMAGICK_HINTED]],
    }
    if ext != '.jpg':
        # A crop of the whole picture first keeps the full decode.
        argvs[ORVANE_FULL] = [args.orvane, '-c', '0', '0', str(image.width),
                              str(image.height)] + case.options + \
                             ['-o', outs[ORVANE_FULL], image.path]
    return argvs, outs


class Probe(NamedTuple):
    """One run of a tool, before the timed ones: whether it worked."""
    status: str         # 'ok', 'timed out' or 'failed'
    kilobytes: float    # peak memory of that run
    said: str           # a failure's first line
    size: tuple         # the output's width and height


def probe(argv, out, work, limit):
    report = os.path.join(work, 'memory.txt')
    if os.path.exists(out):
        os.remove(out)
    try:
        done = subprocess.run(['/usr/bin/time', '-f', '%M', '-o', report] +
                              argv, capture_output=True, text=True,
                              timeout=limit)
    except subprocess.TimeoutExpired:
        return Probe('timed out', 0, 'over %d s' % limit, None)
    if done.returncode != 0 or not os.path.exists(out):
        said = (done.stderr.strip().splitlines() or ['status %d' %
                                                     done.returncode])[0]
        # ImageMagick's words, without the file name and its source line.
        return Probe('failed', 0, said.split(' `')[0], None)
    with open(report) as f:
        kilobytes = int(f.read().split()[-1])
    return Probe('ok', kilobytes, '', jpeg_size(out))


def same_pixels(a, b):
    from PIL import Image
    return Image.open(a).tobytes() == Image.open(b).tobytes()


def thumbnail_targets(image, r):
    """Orvane's targets on one case that were measured: {what: met}."""
    orvane, floor = r.get(TOOLS.orvane), r.get(FLOOR_REDUCED)
    vips = r.get(VIPSTHUMBNAIL)
    met = {}
    if orvane and floor:
        met['x floor'] = orvane.seconds <= MOST_X_FLOOR * floor.seconds
        if image.big:
            met['memory'] = orvane.kilobytes <= floor.kilobytes + \
                MOST_MB_OVER_FLOOR * 1024
    if orvane and vips and not image.big:
        met['x vipsthumbnail'] = orvane.seconds <= \
            MOST_X_VIPSTHUMBNAIL[progressive(image.path)] * vips.seconds
        met['memory'] = orvane.kilobytes <= \
            MOST_X_VIPS_MEMORY * vips.kilobytes
    return met


def missed(met, what):
    return ' (missed)' if met.get(what) is False else ''


def thumbnail_table(images, probes, results, pictures):
    lines = ['| Photo | Case | Program | Median time (s) | x floor | '
             'x vipsthumbnail | Peak memory (MB) | PSNR (dB) | Output |',
             '|---|---|---|---:|---:|---:|---:|---:|---|']
    for image in images:
        for case in THUMBNAIL_CASES:
            key = (image.name, case.name)
            r = results[key]
            floor, vips = r.get(FLOOR_REDUCED), r.get(VIPSTHUMBNAIL)
            first = True
            for tool, p in probes[key].items():
                cells = [image.name if first else '',
                         case.name if first else '', tool]
                first = False
                if p.status != 'ok':
                    cells += ['%s: %s' % (p.status, p.said.replace('|', '/')),
                              '', '', '', '', '']
                    lines.append('| ' + ' | '.join(cells) + ' |')
                    continue
                s, kb = r[tool]
                met = thumbnail_targets(image, r) if tool == TOOLS.orvane \
                    else {}
                db = pictures.get(key, {}).get(tool)
                cells += ['%.3f' % s,
                          ratio(s, floor.seconds) + missed(met, 'x floor')
                          if floor else '',
                          ratio(s, vips.seconds) +
                          missed(met, 'x vipsthumbnail') if vips else '',
                          '%.0f' % (kb / 1024) + missed(met, 'memory'),
                          '%.2f' % db if db is not None else '',
                          '%dx%d' % p.size]
                lines.append('| ' + ' | '.join(cells) + ' |')
    return lines


def thumbnail_verdicts(images, results, checks):
    lines = []
    for image in images:
        for case in THUMBNAIL_CASES:
            key = (image.name, case.name)
            w, h = target(image.width, image.height, case)
            parts = ['%s, `%s`: %dx%d, decoded at 1/%d' % (
                image.name, case.name, w, h,
                case_reduction(image.width, image.height, case))]
            met = thumbnail_targets(image, results[key])
            if TOOLS.orvane in results[key] and \
                    FLOOR_REDUCED in results[key]:
                o, f = results[key][TOOLS.orvane], results[key][FLOOR_REDUCED]
                parts.append('orvane / the floor: time %.3f, memory %+d MB'
                             % (o.seconds / f.seconds,
                                round((o.kilobytes - f.kilobytes) / 1024)))
            parts += ['%s: %s' % (what, 'yes' if same else 'NO')
                      for what, same in checks[key]]
            parts.append('targets: %s' % (
                'all met' if all(met.values()) else 'missed ' + ', '.join(
                    what for what, ok in met.items() if not ok)))
            lines.append('- ' + '; '.join(parts))
    return lines


def psnr(a, b):
    import numpy
    error = numpy.asarray(a, dtype=numpy.float64) - numpy.asarray(
        b, dtype=numpy.float64)
    mse = float(numpy.mean(error * error))
    return float('inf') if mse == 0 else 10 * math.log10(255 ** 2 / mse)


def thumbnail_psnr(args, image, case, reference):
    """PSNR of each tool's thumbnail, saved as PNG so that no encoding
    enters, against the reference resized by Pillow's Lanczos filter to
    the thumbnail's size. The floor's pixels are orvane's, so it is left
    out."""
    from PIL import Image
    argvs, outs = thumbnail_commands(args, image, case, '.png')
    del argvs[FLOOR_REDUCED], argvs[ORVANE_ONE_THREAD]  # orvane's pixels
    db = {}
    for tool, argv in argvs.items():
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        with Image.open(outs[tool]) as made:
            made = made.convert('RGB')
        db[tool] = psnr(made, reference.resize(made.size,
                                               Image.Resampling.LANCZOS))
    return db


def picture_quality(args):
    """QUALITY_CASE's PSNR for each tool on every JPEG of mate-backgrounds,
    against the photo decoded by djpeg's defaults (the accurate DCT)."""
    import glob
    rows = []
    for photo in sorted(glob.glob(os.path.join(BACKGROUNDS, '*/*.jpg'))):
        width, height = jpeg_size(photo)
        image = ThumbnailInput(os.path.relpath(photo, BACKGROUNDS), photo,
                               width, height, False)
        rows.append((image, thumbnail_psnr(args, image, QUALITY_CASE,
                                           decoded(photo))))
    return rows


QUALITY_TOOLS = (TOOLS.orvane, ORVANE_FULL, VIPSTHUMBNAIL, IMAGEMAGICK_HINTED,
                 GRAPHICSMAGICK_HINTED)


def quality_table(rows):
    lines = ['| Photo | Pixels | Scale | ' + ' | '.join(
        '%s (dB)' % tool for tool in QUALITY_TOOLS) +
        ' | orvane - vipsthumbnail |',
        '|---|---:|---:|' + '---:|' * (len(QUALITY_TOOLS) + 1)]
    behind = []
    for image, db in rows:
        behind.append(db[TOOLS.orvane] - db[VIPSTHUMBNAIL])
        cells = [image.name, '%dx%d' % (image.width, image.height),
                 '1/%d' % case_reduction(image.width, image.height,
                                         QUALITY_CASE)]
        cells += ['%.2f' % db[tool] for tool in QUALITY_TOOLS]
        cells.append('%+.2f%s' % (behind[-1], ' (missed)' if behind[-1] <
                                  -MOST_DB_UNDER_VIPSTHUMBNAIL else ''))
        lines.append('| ' + ' | '.join(cells) + ' |')
    kept = sum(d >= -MOST_DB_UNDER_VIPSTHUMBNAIL for d in behind)
    lines += ['', '`%s`: orvane minus vipsthumbnail, median %+.2f dB, from '
              '%+.2f to %+.2f; within %.1f dB of it or above on %d of %d '
              'photos.' % (QUALITY_CASE.name, statistics.median(behind),
                           min(behind), max(behind),
                           MOST_DB_UNDER_VIPSTHUMBNAIL, kept, len(behind))]
    return lines


def main_thumbnails(args):
    images = thumbnail_inputs(args)
    probes, jobs, results, checks = {}, {}, {}, {}
    for image in images:
        for case in THUMBNAIL_CASES:
            key = (image.name, case.name)
            argvs, outs = thumbnail_commands(args, image, case)
            limit = args.big_timeout if image.big else args.timeout
            probes[key] = {}
            for tool, argv in argvs.items():
                began = time.monotonic()
                probes[key][tool] = probe(argv, outs[tool], args.work, limit)
                print('%s %s %s: %s, %.1f s' % (
                    image.name, case.name, tool, probes[key][tool].status,
                    time.monotonic() - began), flush=True)
            checks[key] = [
                ('orvane has the floor\'s pixels',
                 same_pixels(outs[TOOLS.orvane], outs[FLOOR_REDUCED]))] \
                if probes[key][TOOLS.orvane].status == \
                probes[key][FLOOR_REDUCED].status == 'ok' else []
            if probes[key][ORVANE_ONE_THREAD].status == 'ok':
                checks[key].append(('its bytes on 1 thread', filecmp.cmp(
                    outs[TOOLS.orvane], outs[ORVANE_ONE_THREAD],
                    shallow=False)))
            jobs[key] = {tool: argv for tool, argv in argvs.items()
                         if probes[key][tool].status == 'ok'}
    # The probes warmed the caches, and each gave one peak memory; the
    # small photos get two more, the made one (seconds a run) fewer timed
    # runs.
    for big in (False, True):
        some = {key: tools for key, tools in jobs.items()
                if any(i.name == key[0] and i.big == big for i in images)}
        if not some:
            continue
        timed = measure(some, args.big_runs if big else args.runs, args.work,
                        memory_runs=0, warm_up=False)
        for key, tools in some.items():
            results[key] = {}
            for tool, argv in tools.items():
                memory = [probes[key][tool].kilobytes]
                if not big:
                    memory += [peak_kilobytes(argv, args.work)
                               for _ in range(2)]
                results[key][tool] = Measured(timed[key][tool].seconds,
                                              statistics.median(memory))
    # The picture on the 17.9-megapixel photos; the made one's accurate
    # decode would take gigabytes.
    pictures = {}
    for image in images:
        if not image.big:
            reference = decoded(image.path)
            for case in THUMBNAIL_CASES:
                pictures[(image.name, case.name)] = thumbnail_psnr(
                    args, image, case, reference)
    quality = picture_quality(args)
    write_thumbnail_markdown(args, images, probes, results, checks, pictures,
                             quality)
    write_thumbnail_chart(args, images, results, pictures, quality)


def write_thumbnail_markdown(args, images, probes, results, checks, pictures,
                             quality):
    lines = [THUMBNAILS_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'libvips-tools', 'imagemagick',
                            'graphicsmagick', 'libjpeg-turbo-progs',
                            'hyperfine', 'mate-backgrounds'))
    lines += ['', 'Median over %d runs of each program on the 17.9-megapixel '
              'photo, %d on the made one; peak memory is the median of 3 '
              'runs, of 1 on the made one. A program is given %d s a run '
              '(%d s on the made photo) before it counts as timed out.' % (
                  args.runs, args.big_runs, args.timeout, args.big_timeout),
              '']
    for image in images:
        lines.append('- %s: %dx%d (%.1f megapixels), %s, %.1f MB' % (
            image.name, image.width, image.height, image.megapixels,
            'progressive' if progressive(image.path) else 'baseline',
            os.path.getsize(image.path) / 1e6))
    lines += ['']
    lines += thumbnail_table(images, probes, results, pictures) + ['']
    lines += thumbnail_verdicts(images, results, checks) + ['']
    lines += ['### Picture quality', '',
              '`%s` of every JPEG of mate-backgrounds by each program, saved '
              'as PNG, against the same photo decoded by djpeg\'s defaults '
              'and resized by Pillow\'s Lanczos filter to the same size '
              '(PSNR over RGB); "scale" is the reduced decode orvane takes, '
              'and "orvane, full decode" the same line without it.' %
              QUALITY_CASE.name, '']
    lines += quality_table(quality) + ['', THUMBNAILS_END]
    replace_section(args.markdown, THUMBNAILS_BEGIN, THUMBNAILS_END, lines)


# Margins: how much of the resize's size each -filter needs kept on each
# side of a reduced decode, for its picture to stay that of its own full
# decode; and Lanczos thumbnails against vipsthumbnail's (bench/margins).
MARGINS_BEGIN = '<!-- margins:begin -->'
MARGINS_END = '<!-- margins:end -->'
# Orvane's -filter names and the floor's names for the same filters.
MARGIN_FILTERS = (('Box', 'box'), ('Triangle', 'bilinear'),
                  ('Mitchell', 'bicubic'), ('Catrom', 'catmullrom'),
                  ('Lanczos', 'lanczos3'), ('Spline', 'bspline'))
MARGIN_SIZES = (('-w 800', 800, 0), ('-w 1600', 1600, 0), ('-h 200', 0, 200))
# Each changes which reduction some photo is decoded at.
CANDIDATE_MARGINS = (1, 1.5, 2, 2.5, 3, 4, 5, 6, 8)
MARGIN_TOLERANCE = 0.3  # dB below the filter's own full decode
# The reference is itself a Lanczos-3 resize: Lanczos's full decode meets it
# to about 90 dB, so any reduced decode falls tens of dB short of its own
# full decode however good it looks. A filter whose full decode is the
# reference (above SAME_AS_REFERENCE on every photo) is judged instead
# against vipsthumbnail's picture of the same size, a Lanczos-3 resize
# after its own shrink on load, which keeps at least twice the target.
SAME_AS_REFERENCE = 55  # dB
VIPS_TOLERANCE = 0.2  # dB below vipsthumbnail's


def orvane_reduction(width, height, w, h, margin):
    """The reduction orvane's shrink on load takes for a w x h resize with
    that margin (PlanDecode, LargestReduction)."""
    across, down = math.ceil(margin * w), math.ceil(margin * h)
    for d in (8, 4, 2):
        if -(-width // d) >= across and -(-height // d) >= down:
            return d
    return 1


def floor_thumbnail(args, photo, longer, d, code, w, h):
    """The floor's w x h resize with the floor's filter code of photo decoded at 1/d,
    as a picture."""
    from PIL import Image
    out = os.path.join(args.work, 'margin.png')
    side = ['-s', str(longer // d)] if d > 1 else []
    subprocess.run([args.floor] + side + ['-f', code, photo, out, '0',
                                          'w%dx%d' % (w, h)], check=True)
    picture = Image.open(out).convert('RGB')
    picture.load()
    return picture


def vips_thumbnail(args, photo, w, h):
    """vipsthumbnail's w x h picture of photo, saved as PNG."""
    from PIL import Image
    out = os.path.join(args.work, 'vips.png')
    subprocess.run(['vipsthumbnail', photo, '-s', '%dx%d!' % (w, h), '-o',
                    out], check=True)
    picture = Image.open(out).convert('RGB')
    picture.load()
    return picture


def gain(a, b):
    """a - b in dB; 0 for two pictures both the same as the reference (a
    photo already of the size asked for), which PSNR calls infinite."""
    return 0.0 if a == b else a - b


def margin_losses(args):
    """{(filter, size, margin): [(dB of that margin's decode minus the full
    decode's, photo)]}, the same against vipsthumbnail's, and {(filter,
    photo): reduction} as orvane took it for -w 800, its pixels checked
    against the floor's at that reduction."""
    from PIL import Image
    import glob
    losses, against_vips, taken, full_scores = {}, {}, {}, {}
    for photo in sorted(glob.glob(os.path.join(BACKGROUNDS, '*/*.jpg'))):
        name = os.path.relpath(photo, BACKGROUNDS)
        width, height = jpeg_size(photo)
        full = decoded(photo)
        for size, *sides in MARGIN_SIZES:
            w, h = target(width, height, sides)
            reference = full.resize((w, h), Image.Resampling.LANCZOS)
            vips = psnr(vips_thumbnail(args, photo, w, h), reference)
            for filter_name, code in MARGIN_FILTERS:
                scores, pictures = {}, {}
                for d in [1] + [orvane_reduction(width, height, w, h, m)
                                for m in CANDIDATE_MARGINS]:
                    if d not in scores:
                        pictures[d] = floor_thumbnail(
                            args, photo, max(width, height), d, code, w, h)
                        scores[d] = psnr(pictures[d], reference)
                full_scores.setdefault(filter_name, []).append(scores[1])
                for m in CANDIDATE_MARGINS:
                    d = orvane_reduction(width, height, w, h, m)
                    losses.setdefault((filter_name, size, m), []).append(
                        (gain(scores[d], scores[1]), name))
                    against_vips.setdefault((filter_name, size, m),
                                            []).append((gain(scores[d], vips),
                                                        name))
                if size == MARGIN_SIZES[0][0]:
                    d, picture = orvane_thumbnail(args, photo, filter_name,
                                                  size)
                    if d not in pictures:
                        pictures[d] = floor_thumbnail(
                            args, photo, max(width, height), d, code, w, h)
                    taken[(filter_name, name)] = (
                        d, picture.tobytes() == pictures[d].tobytes())
        print(name, flush=True)
    return losses, against_vips, taken, full_scores


def orvane_thumbnail(args, photo, filter_name, size):
    """Orvane's resize with the filter, as a picture, and the reduction it
    took, from its debug log."""
    from PIL import Image
    log = os.path.join(args.work, 'Orvane.log')
    if os.path.exists(log):
        os.remove(log)
    out = os.path.join(args.work, 'orvane.png')
    subprocess.run([args.orvane, '-dbg=1', '-filter', filter_name] +
                   size.split() + ['-o', out, photo], check=True)
    said = open(log).read().split() if os.path.exists(log) else []
    found = [int(word[2:]) for word in said if word.startswith('1/')]
    picture = Image.open(out).convert('RGB')
    picture.load()
    return (found[-1] if found else 1), picture


def smallest_margin(losses, filter_name, tolerance):
    """The smallest candidate margin whose worst loss over every photo and
    size is within tolerance; None when none is."""
    for m in CANDIDATE_MARGINS:
        if min(min(losses[(filter_name, size, m)])[0]
               for size, *_ in MARGIN_SIZES) >= -tolerance:
            return m
    return None


def chosen_margins(losses, against_vips, full_scores):
    """Each filter's margin: the smallest within MARGIN_TOLERANCE of its own
    full decode, or for a filter whose full decode is the reference, within
    VIPS_TOLERANCE of vipsthumbnail's picture; and which yardstick chose
    it."""
    chosen = {}
    for filter_name, _ in MARGIN_FILTERS:
        if min(full_scores[filter_name]) > SAME_AS_REFERENCE:
            chosen[filter_name] = (smallest_margin(
                against_vips, filter_name, VIPS_TOLERANCE), 'vipsthumbnail')
        else:
            chosen[filter_name] = (smallest_margin(
                losses, filter_name, MARGIN_TOLERANCE), 'its full decode')
    return chosen


def margins_table(losses, chosen, filters):
    """Each filter's worst loss, and the photo, at each margin; the margin
    chosen by that yardstick in bold."""
    lines = ['| Filter | Size | ' + ' | '.join('margin %g' % m for m in
                                                CANDIDATE_MARGINS) + ' |',
             '|---|---|' + '---:|' * len(CANDIDATE_MARGINS)]
    for filter_name in filters:
        for i, (size, *_) in enumerate(MARGIN_SIZES):
            cells = [filter_name if i == 0 else '', '`%s`' % size]
            for m in CANDIDATE_MARGINS:
                loss, name = min(losses[(filter_name, size, m)])
                mark = '**' if chosen.get(filter_name) == m else ''
                cells.append('%s%+.2f%s (%s)' % (
                    mark, loss, mark, os.path.basename(name)[:-4]))
            lines.append('| ' + ' | '.join(cells) + ' |')
    return lines


def vips_comparison(args):
    """[(photo, orvane's dB, vipsthumbnail's dB)] for -filter Lanczos
    -w 800 at quality 100, both 4:2:0, against the same reference."""
    from PIL import Image
    import glob
    rows = []
    for photo in sorted(glob.glob(os.path.join(BACKGROUNDS, '*/*.jpg'))):
        width, height = jpeg_size(photo)
        w, h = target(width, height, (800, 0))
        reference = decoded(photo).resize((w, h), Image.Resampling.LANCZOS)
        ours = os.path.join(args.work, 'lanczos.jpg')
        theirs = os.path.join(args.work, 'vips.jpg')
        subprocess.run([args.orvane, '-filter', 'Lanczos', '-w', '800',
                        '-oq', '100', '-o', ours, photo], check=True)
        subprocess.run(['vipsthumbnail', photo, '-s', '%dx%d!' % (w, h), '-o',
                        theirs + '[Q=100,subsample-mode=on]'], check=True)
        rows.append((os.path.relpath(photo, BACKGROUNDS),
                     psnr(decoded(ours), reference),
                     psnr(decoded(theirs), reference)))
    return rows


def taken_verdict(taken, chosen):
    """Whether orvane keeps the margins chosen, and its pixels are the
    floor's."""
    lines = []
    for filter_name, _ in MARGIN_FILTERS:
        photos = [(name, d, same) for (f, name), (d, same) in taken.items()
                  if f == filter_name]
        wrong = []
        for name, d, same in photos:
            width, height = jpeg_size(os.path.join(BACKGROUNDS, name))
            w, h = target(width, height, (800, 0))
            if d != orvane_reduction(width, height, w, h,
                                     chosen[filter_name][0] or 1):
                wrong.append('%s at 1/%d' % (name, d))
        lines.append('- %s, `-w 800`: orvane decodes as the margin chosen '
                     'gives on %d of %d photos%s; its pixels are the '
                     'floor\'s on %d.' % (
                         filter_name, len(photos) - len(wrong), len(photos),
                         ' (not: %s)' % ', '.join(wrong) if wrong else '',
                         sum(same for _, _, same in photos)))
    return lines


def main_margins(args):
    losses, against_vips, taken, full_scores = margin_losses(args)
    chosen = chosen_margins(losses, against_vips, full_scores)
    photos = len(full_scores[MARGIN_FILTERS[0][0]]) // len(MARGIN_SIZES)
    by_vips = [f for f, _ in MARGIN_FILTERS if chosen[f][1] == 'vipsthumbnail']
    lines = [MARGINS_BEGIN, '']
    lines += machine_facts(('libfreeimage3', 'libvips-tools',
                            'libjpeg-turbo-progs', 'mate-backgrounds'))
    lines += ['', 'Worst of the %d mate-backgrounds photos: PSNR of the '
              'reduced decode\'s resize minus that of the full decode\'s, '
              'both with the filter of the row, against the reference '
              '(photo named). Bold: the smallest margin within %.1f dB on '
              'every photo and size.' % (photos, MARGIN_TOLERANCE), '']
    lines += margins_table(losses, {f: m for f, (m, by) in chosen.items()
                                    if by == 'its full decode'},
                           [f for f, _ in MARGIN_FILTERS]) + ['']
    lines += ['Each filter\'s full decode against the reference, lowest '
              'and median over photos and sizes: %s.' % ', '.join(
                  '%s %.1f and %.1f dB' % (f, min(full_scores[f]),
                                          statistics.median(full_scores[f]))
                  for f, _ in MARGIN_FILTERS), '']
    if by_vips:
        lines += ['%s: its full decode is the reference (above %d dB), so '
                  'its resizes are set against vipsthumbnail\'s picture of '
                  'the same size (saved as PNG), its minus vipsthumbnail\'s. '
                  'Bold: the smallest margin within %.1f dB of it or above on '
                  'every photo and size.' % (' and '.join(by_vips),
                                             SAME_AS_REFERENCE,
                                             VIPS_TOLERANCE), '']
        lines += margins_table(against_vips,
                               {f: chosen[f][0] for f in by_vips},
                               by_vips) + ['']
    lines += ['Margins the measurement gives: %s.' % ', '.join(
        '%s %s' % (f, chosen[f][0]) for f, _ in MARGIN_FILTERS), '']
    lines += taken_verdict(taken, chosen) + ['']
    rows = vips_comparison(args)
    lines += ['`-filter Lanczos -w 800` against vipsthumbnail at the same '
              'size, both JPEG at quality 100 and 4:2:0, PSNR against the '
              'same reference:', '',
              '| Photo | orvane (dB) | vipsthumbnail (dB) | difference |',
              '|---|---:|---:|---:|']
    lines += ['| %s | %.2f | %.2f | %+.2f |' % (name, ours, theirs,
                                               ours - theirs)
              for name, ours, theirs in rows]
    differences_ = [ours - theirs for _, ours, theirs in rows]
    lines += ['', 'orvane minus vipsthumbnail: median %+.2f dB, from %+.2f '
              'to %+.2f.' % (statistics.median(differences_),
                             min(differences_), max(differences_)),
              '', MARGINS_END]
    replace_section(args.markdown, MARGINS_BEGIN, MARGINS_END, lines)


def write_thumbnail_chart(args, images, results, pictures, quality):
    """Each program's time over the floor's, a panel a photo, then its
    PSNR on the 17.9-megapixel photo and on every photo of QUALITY_CASE."""
    timed = (TOOLS.orvane, ORVANE_ONE_THREAD, FLOOR_REDUCED, VIPSTHUMBNAIL,
             IMAGEMAGICK_HINTED,
             GRAPHICSMAGICK_HINTED)
    panels = []
    for image in images:
        rows = []
        for case in THUMBNAIL_CASES:
            r = results[(image.name, case.name)]
            floor = r.get(FLOOR_REDUCED)
            rows.append((case.name, [
                r[t].seconds / floor.seconds if t in r and floor else math.nan
                for t in timed]))
        # Room above the bars for the key, here and below.
        highest = max(v for _, vs in rows for v in vs if not math.isnan(v))
        panels.append(Panel('%s: time' % image.name, list(timed), rows,
                            TIME_AXIS + '\nset yrange [0.25:%.2f]' %
                            (4 * highest)))
    pictured = (TOOLS.orvane, VIPSTHUMBNAIL, IMAGEMAGICK_HINTED,
                GRAPHICSMAGICK_HINTED)
    first = next(i for i in images if not i.big)
    rows = [(case.name, [pictures[(first.name, case.name)][t]
                         for t in pictured]) for case in THUMBNAIL_CASES]
    every = [(os.path.splitext(os.path.basename(image.name))[0],
              [db[t] for t in pictured]) for image, db in quality]
    # The photos' names are long: slanted, they stay apart.
    for title, rows_, labels in (
            ('%s: PSNR' % first.name, rows, ''),
            ('%s on every photo of mate-backgrounds: PSNR' %
             QUALITY_CASE.name, every, '\nset xtics rotate by 20 right')):
        values = [v for _, vs in rows_ for v in vs]
        panels.append(Panel(title, list(pictured), rows_, PSNR_AXIS % (
            math.floor(min(values)) - 2, math.ceil(max(values)) + 15) +
            labels))
    histogram_chart(args.work, args.chart, 'Thumbnails: time relative to the '
                    'floor (its reduced decode and filter = 1; lower is '
                    'faster; log scale), and PSNR against a Lanczos resize '
                    'of the full decode', panels, 1500)


def main():
    parser = argparse.ArgumentParser()
    runs = parser.add_subparsers(dest='comparison', required=True)
    tools = runs.add_parser('tools', help='orvane, the floor and other tools')
    for option in ('--orvane', '--floor', '--work', '--markdown', '--chart'):
        tools.add_argument(option, required=True)
    wine = runs.add_parser('wine', help='Orvane.exe under Wine and the '
                                        'Linux build')
    for option in ('--orvane', '--empty', '--wine', '--orvane-exe',
                   '--empty-exe', '--dll-versions', '--work', '--markdown'):
        wine.add_argument(option, required=True)
    wine.add_argument('--photos', nargs='*', metavar='NAME',
                      help='only these of the photos (all by default)')
    lossless = runs.add_parser('lossless', help='-lossless, re-encoding and '
                                                'jpegtran')
    for option in ('--orvane', '--floor', '--work', '--markdown'):
        lossless.add_argument(option, required=True)
    thumbnails = runs.add_parser('thumbnails', help='resizes that may '
                                 'decode a JPEG reduced, and vipsthumbnail')
    for option in ('--orvane', '--floor', '--work', '--markdown', '--cache',
                   '--chart'):
        thumbnails.add_argument(option, required=True)
    thumbnails.add_argument('--big-runs', type=int, default=3,
                            help='runs on the 749-megapixel photo')
    thumbnails.add_argument('--timeout', type=int, default=120,
                            help='seconds a run may take on the small photos')
    thumbnails.add_argument('--big-timeout', type=int, default=300,
                            help='seconds a run may take on the made photo')
    thumbnails.add_argument('--small-only', action='store_true',
                            help='leave the made photo out')
    margins = runs.add_parser('margins', help='the margin each -filter '
                              'needs in a shrink on load, and vipsthumbnail')
    for option in ('--orvane', '--floor', '--work', '--markdown'):
        margins.add_argument(option, required=True)
    for sub in (tools, wine, lossless, thumbnails):
        sub.add_argument('--runs', type=int, default=10)
    args = parser.parse_args()
    os.environ.setdefault('TEMP', args.work)
    if args.comparison == 'wine':
        main_wine(args)
        return
    if args.comparison == 'lossless':
        main_lossless(args)
        return
    if args.comparison == 'thumbnails':
        main_thumbnails(args)
        return
    if args.comparison == 'margins':
        main_margins(args)
        return

    images = inputs(args)
    jobs = {(image.name, case.name): commands(args, case, image)
            for image in images for case in CASES}
    mismatches = check_orvane_matches_floor(args, jobs)
    results = measure(jobs, args.runs, args.work)

    scaled = scaled_inputs(args, images[0])
    scaling_jobs = {}
    for image in scaled:
        for case in SCALING_CASES:
            every = commands(args, case, image)
            scaling_jobs[(image.name, case.name)] = {
                t: every[t] for t in (TOOLS.orvane, TOOLS.floor)}
    scaling = measure(scaling_jobs, args.runs, args.work)

    write_markdown(args, images, scaled, results, scaling, mismatches)
    write_chart(args, images, results)


if __name__ == '__main__':
    main()
