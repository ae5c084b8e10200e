// trokproc: navigation telemetry packets to ephemeris and attitude products.
int main()
{
    return 0;
}
