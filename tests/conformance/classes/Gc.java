public class Gc {
    public static void main(String[] args) {
        System.gc();
        System.out.println("gc done");
    }
}
