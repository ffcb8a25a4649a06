# Review pages: DIR/NAME/report.html per series and DIR/index.html linking them, with the
# series compared. Included from workflow/Snakefile, whose names (OUT, NAMES, PYTHON, REPO,
# rules analyse, plot_series, combine, plot_sheet) it uses.

REPORT_SCRIPT = os.path.join(REPO, "scripts", "vanto-report")
# The pages read the frames and the -ctc masks back from the run; they run where the files are.
localrules: report_series, report_index


rule report_series:
    input:
        job=rules.analyse.output.job,
        plots=f"{OUT}/{{name}}/plots",
    output:
        f"{OUT}/{{name}}/report.html",
    log:
        f"{OUT}/logs/report/{{name}}.txt",
    shell:
        "{PYTHON:q} {REPORT_SCRIPT:q} {OUT:q}/{wildcards.name:q} -o {output:q} > {log:q} 2>&1"


rule report_index:
    input:
        pages=expand(f"{OUT}/{{name}}/report.html", name=NAMES),
        series=rules.combine.output.series,
        plots=f"{OUT}/plots",
    output:
        f"{OUT}/index.html",
    log:
        f"{OUT}/logs/sheet/index.txt",
    shell:
        "{PYTHON:q} {REPORT_SCRIPT:q} {OUT:q} -o {output:q} > {log:q} 2>&1"
