"""What calreport knows of a sensortrim run: its files, its records and checks,
the run record, the station store and the fleet report."""
